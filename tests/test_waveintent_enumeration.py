"""The recipe catalogue: each row's calibration reads and writes."""

import pickle

import numpy as np
import pytest

from halvane import brick, waveintent
from halvane import waveintent_enumeration as we

TEMPLATE = {"amp": 0, "width": 0, "plateau": 0, "phase": 1.0, "vz": 0.1, "freq": 5e9}
GATE = {"amp": 0.5, "width": 2e-8, "plateau": 0, "phase_offs": 0.2}
CP = {
    "pi": GATE,
    "pi2": dict(GATE, amp=0.25),
    "pi12": dict(GATE, amp=0.4, freq=4.8e9),
    "pi23": dict(GATE, amp=0.8, freq=4.6e9),
    "vz": 0.3,
    "vz_left": 0.4,
    "vz_right": 0.5,
    "fp": {"amp": 0.6, "plateau": 1e-7},
    "M01": {"amp": 0.05, "plateau": 2e-6, "freq": 7e9},
    "f0g1": {"amp": 0.7, "width": 1e-7},
    "offamp": 0.1,
    "offplateau": 5e-8,
}
PI = np.pi


def gate(key, **changes):
    w = dict(TEMPLATE, **CP[key])
    w["vz"] = TEMPLATE["vz"] + CP[key]["phase_offs"]
    w.update(changes)
    return w


ROWS = {
    "I_p": dict(TEMPLATE, amp=0, width=0, plateau=0),
    "X_p": gate("pi", phase=0),
    "Y_p": gate("pi", phase=PI / 2),
    "mX_p": gate("pi", phase=PI),
    "mY_p": gate("pi", phase=3 * PI / 2),
    "X2_p": gate("pi2", phase=0),
    "Y2_p": gate("pi2", phase=PI / 2),
    "mX2_p": gate("pi2", phase=PI),
    "mY2_p": gate("pi2", phase=3 * PI / 2),
    "F_p": dict(TEMPLATE, **CP["fp"], freq=0),
    "W_p": gate("pi", phase=PI / 4),
    "mW_p": gate("pi", phase=5 * PI / 4),
    "W2_p": gate("pi2", phase=PI / 4),
    "mW2_p": gate("pi2", phase=5 * PI / 4),
    "VZ_left_p": dict(TEMPLATE, amp=0, vz=0.4),
    "VZ_right_p": dict(TEMPLATE, amp=0, vz=0.5),
    "Vz_p": dict(TEMPLATE, width=0, plateau=0, amp=0, vz=0.3),
    "X12_p": gate("pi12"),
    "X23_p": gate("pi23"),
    "X232_p": gate("pi23", amp=0.4),
    "Xf0g1_p": dict(TEMPLATE, **CP["f0g1"]),
    "Coup_off_p": dict(TEMPLATE, amp=0.1, freq=0, width=0, plateau=5e-8),
    "M_p": dict(TEMPLATE, **CP["M01"]),
}


@pytest.mark.parametrize("name", ROWS)
def test_catalogue_row(name):
    template, cp = dict(TEMPLATE), {k: (dict(v) if isinstance(v, dict) else v) for k, v in CP.items()}
    cls = getattr(we, name)
    pd = cls().get_pd(template, cp)
    assert pd == ROWS[name] and list(pd) == list(ROWS[name])
    assert template == TEMPLATE and cp == CP
    assert cls.__mnr_type__ == name and cls.__maj_type__ == "WaveIntent"
    assert brick.m_isit(cls(), name) and brick.isit(cls(), "WaveIntent")
    assert issubclass(cls, waveintent.WaveIntent) and cls.__doc__


def test_catalogue_order_and_exact_phase_values():
    defined = [n for n in vars(we) if n.endswith("_p")]
    assert defined == list(ROWS)
    assert we.X_p().get_pd(TEMPLATE, CP)["phase"] == 0 and type(we.X_p().get_pd(TEMPLATE, CP)["phase"]) is int
    assert we.mY_p().get_pd(TEMPLATE, CP)["phase"] == pytest.approx(4.712389)
    assert we.mW2_p().get_pd(TEMPLATE, CP)["phase"] == pytest.approx(3.926991)
    assert we.I_p().get_pd(TEMPLATE, {})["plateau"] == 0


def test_calibrated_vz_replaces_the_template_vz():
    pd = we.Y_p().get_pd(TEMPLATE, {"pi": dict(GATE, vz=1.0)})
    assert pd["vz"] == 1.0 + 0.2 and pd["phase_offs"] == 0.2


def test_mutable_vz_of_the_template_is_not_changed():
    template = dict(TEMPLATE, vz=np.array([0.1, 0.2]))
    pd = we.X_p().get_pd(template, CP)
    np.testing.assert_array_equal(template["vz"], [0.1, 0.2])
    np.testing.assert_allclose(pd["vz"], [0.3, 0.4])


def test_keywords_override_the_hook():
    assert we.I_p(plateau=100e-9).get_pd(TEMPLATE, {})["plateau"] == 100e-9
    assert we.X_p(phase=1).get_pd(TEMPLATE, CP, phase=2)["phase"] == 2


@pytest.mark.parametrize(
    "cls, template, cp, key",
    [
        (we.X_p, TEMPLATE, {}, "pi"),
        (we.X_p, TEMPLATE, {"pi": {"amp": 1}}, "phase_offs"),
        (we.X_p, {"amp": 0}, {"pi": GATE}, "vz"),
        (we.X2_p, TEMPLATE, {"pi": GATE}, "pi2"),
        (we.X12_p, TEMPLATE, {}, "pi12"),
        (we.X232_p, TEMPLATE, {}, "pi23"),
        (we.F_p, TEMPLATE, {}, "fp"),
        (we.M_p, TEMPLATE, {}, "M01"),
        (we.Xf0g1_p, TEMPLATE, {}, "f0g1"),
        (we.Vz_p, TEMPLATE, {}, "vz"),
        (we.VZ_left_p, TEMPLATE, {}, "vz_left"),
        (we.VZ_right_p, TEMPLATE, {}, "vz_right"),
        (we.Coup_off_p, TEMPLATE, {}, "offamp"),
        (we.Coup_off_p, TEMPLATE, {"offamp": 1}, "offplateau"),
        (we.Y_p, {"amp": 0}, {"pi": {"amp": 1}}, "vz"),
    ],
)
def test_missing_calibration_key(cls, template, cp, key):
    before = dict(template)
    with pytest.raises(KeyError) as err:
        cls().get_pd(template, cp)
    assert err.value.args == (key,)
    assert template == before


def test_default_cp_fails_on_first_read():
    with pytest.raises(KeyError, match="'pi'"):
        we.X_p().get_pd(TEMPLATE)


def test_gate_helpers_in_place():
    w = dict(TEMPLATE)
    assert we.pi23_gate(w, CP) is None
    assert w == gate("pi23")
    with pytest.raises(TypeError):
        we.pi_gate(w)
    with pytest.raises(TypeError):
        we.X_p().will(w)


def test_rebinding_module_names_changes_the_recipes(monkeypatch):
    monkeypatch.setattr(we, "pi", 10.0)
    assert we.Y_p().get_pd(TEMPLATE, CP)["phase"] == 5.0
    monkeypatch.setattr(we, "pi_gate", lambda w, cp: w.update(gate="mine"))
    assert we.X_p().get_pd(TEMPLATE, CP) == dict(TEMPLATE, gate="mine", phase=0)
    assert we.X2_p().get_pd(TEMPLATE, CP)["amp"] == 0.25


def test_module_names():
    assert we.np is np and we.pw is waveintent
    assert we.pi == np.pi and we.pi2 == np.pi / 2 and type(we.pi2) is float


class Logged:
    def log(self):
        return type(self).__name__


class LoggedX(Logged, we.X_p):
    def will(self, w, cp):
        super().will(w, cp)
        w["logged"] = True


def test_subclass_with_mixin_and_pickle():
    r = LoggedX(amp=0.3)
    assert r.get_pd(TEMPLATE, CP) == dict(gate("pi", phase=0), amp=0.3, logged=True)
    assert r.log() == "LoggedX"
    clone = pickle.loads(pickle.dumps(we.X_p(amp=0.3)))
    assert type(clone) is we.X_p and clone.get_pd(TEMPLATE, CP) == we.X_p(amp=0.3).get_pd(TEMPLATE, CP)
    assert pickle.loads(pickle.dumps(r)).get_pd(TEMPLATE, CP)["logged"]
