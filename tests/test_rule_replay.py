"""A rule applied again to the same qubit information: every change to what it
reads shows in the next result, and no two results share anything mutable."""

import copy
import os
import subprocess
import sys

import numpy as np
import pytest

from halvane import brick
from halvane import rule as hr
from halvane import waveintent_enumeration as we


def setup():
    pi = {"amp": 0.5, "width": 20, "plateau": 0, "phase_offs": 0.25}
    cp = {"pi": pi, "pi2": dict(pi, amp=0.25), "vz": 0.3,
          "fp": {"amp": 0.1, "width": 4, "plateau": 6}}
    pdt = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 5.0, "vz": 0.0}
    info = {"d": {"nm": "L", "pdt": pdt, "cp": cp}, "z": {"nm": "Z", "pdt": dict(pdt, freq=0), "cp": cp}}
    rule = hr.RULE(d=[[we.Y_p(), we.Vz_p()], [we.I_p()]], z=[[we.F_p(amp=0.2)]], _align="center")
    return rule, info


def fresh(rule, info, **kwds):
    """What the rule gives when it has never seen these objects."""
    r, i = copy.deepcopy((rule, info))
    return r.semi_apply(i, **kwds)


def change_will(monkeypatch, rule, info):
    monkeypatch.setattr(we.Y_p, "will", lambda self, w, cp: w.update(amp=7))


MUTATIONS = {
    "nested calibration": lambda mp, r, i: i["d"]["cp"]["pi"].update(amp=0.9),
    "calibration": lambda mp, r, i: i["d"]["cp"].update(vz=1.5),
    "calibration entry replaced": lambda mp, r, i: i["d"]["cp"].update(pi={"amp": 1, "width": 3, "plateau": 1,
                                                                          "phase_offs": 0}),
    "template": lambda mp, r, i: i["d"]["pdt"].update(freq=6.5),
    "line name": lambda mp, r, i: i["d"].update(nm="M"),
    "line entry replaced": lambda mp, r, i: i.update(d=dict(i["d"], nm="N")),
    "recipe appended to a track": lambda mp, r, i: r.line_tracks["d"][0].append(we.Y_p()),
    "recipe replaced in a track": lambda mp, r, i: r.line_tracks["d"][0].__setitem__(0, we.Y2_p()),
    "track appended": lambda mp, r, i: r.line_tracks["d"].append([we.X2_p()]),
    "line removed": lambda mp, r, i: r.line_tracks.pop("z"),
    "alignment": lambda mp, r, i: setattr(r, "_align", "right"),
    "class keywords changed": lambda mp, r, i: r.line_tracks["z"][0][0].kw.update(amp=0.6),
    "class keywords replaced": lambda mp, r, i: setattr(r.line_tracks["z"][0][0], "kw", {"width": 9}),
    "recipe's own hook": lambda mp, r, i: setattr(r.line_tracks["d"][0][0], "will",
                                                  lambda w, cp: w.update(amp=8)),
    "recipe's class": lambda mp, r, i: setattr(r.line_tracks["d"][1][0], "__class__", we.Vz_p),
    "class hook": change_will,
    "module pi": lambda mp, r, i: mp.setattr(we, "pi", 3),
    "gate helper": lambda mp, r, i: mp.setattr(we, "pi_gate", lambda w, cp: w.update(amp=5)),
    "brick.catch": lambda mp, r, i: mp.setattr(brick, "catch", lambda kwds, w: {"amp": 4}),
    "brick.pulse_duration": lambda mp, r, i: mp.setattr(brick, "pulse_duration", lambda pd: 100),
}


@pytest.mark.parametrize("kwds", [{}, {"d__0__1__amp": 0.75}], ids=["plain", "keywords"])
@pytest.mark.parametrize("mutate", MUTATIONS.values(), ids=MUTATIONS.keys())
def test_every_change_shows_in_the_next_result(monkeypatch, mutate, kwds):
    rule, info = setup()
    expected = fresh(rule, info, **kwds)
    assert rule.semi_apply(info, **kwds) == expected
    assert rule.semi_apply(info, **kwds) == expected
    mutate(monkeypatch, rule, info)
    changed = fresh(rule, info, **kwds)
    assert changed != expected
    assert rule.semi_apply(info, **kwds) == changed
    assert rule.semi_apply(info, **kwds) == changed


def test_results_are_new_objects_every_time():
    rule, info = setup()
    _, first = rule.semi_apply(info)
    first["L"][0][0]["amp"] = 99
    first["L"][0].append("x")
    _, second = rule.semi_apply(info)
    assert second == fresh(rule, info)[1]
    assert second is not first and second["L"] is not first["L"] and second["L"][0][0] is not first["L"][0][0]


def test_keyword_values_are_the_callers_objects():
    rule, info = setup()
    for amp in (0.75, 0.5 + 0.25, 2.0):
        for _ in range(2):
            _, lts = rule.semi_apply(info, d__0__0__amp=amp)
            assert lts["L"][0][0]["amp"] is amp


def test_calls_alternating_between_keywords_and_qubits():
    rule, info = setup()
    other = copy.deepcopy(info)
    other["d"]["cp"]["pi"]["amp"] = 0.1
    calls = [(info, {}), (other, {}), (info, {"amp": 0.2}), (other, {"amp": 0.2}), (info, {"d__amp": 0.3})]
    expected = [fresh(rule, i, **k) for i, k in calls]
    for _ in range(3):
        assert [rule.semi_apply(i, **k) for i, k in calls] == expected


def test_mutable_results_are_made_every_time():
    rule, info = setup()
    vz = np.array([0.0, 1.0])
    info["d"]["pdt"].update(vz=vz, taps=[1, 2])
    _, first = rule.semi_apply(info)
    _, second = rule.semi_apply(info)
    np.testing.assert_array_equal(first["L"][0][0]["vz"], vz + 0.25)
    assert first["L"][0][0]["vz"] is not second["L"][0][0]["vz"]
    # What the template holds is shared by every description, as a shallow copy shares it.
    assert first["L"][1][0]["vz"] is vz and second["L"][1][0]["vz"] is vz
    assert first["L"][1][0]["taps"] is second["L"][1][0]["taps"] is info["d"]["pdt"]["taps"]


def test_numpy_calibration_is_read_on_every_call():
    rule, info = setup()
    info["d"]["cp"]["pi"]["amp"] = np.float64(0.5)
    assert rule.semi_apply(info) == fresh(rule, info)
    info["d"]["cp"]["pi"]["amp"] = np.float64(0.7)
    assert rule.semi_apply(info)[1]["L"][0][0]["amp"] == 0.7


def test_python_hooks_run_on_every_call():
    calls = []

    class Counted(we.Y_p):
        def will(self, w, cp):
            calls.append(1)
            super().will(w, cp)

    rule, info = setup()
    rule.line_tracks["d"][0][0] = Counted()
    for n in (1, 2, 3):
        rule.semi_apply(info)
        assert len(calls) == n


def test_a_rule_subclass_is_applied_every_time():
    class Shifted(hr.RULE):
        pass

    rule, info = setup()
    shifted = Shifted(**rule.line_tracks, _align="center")
    assert shifted.semi_apply(info) == shifted.semi_apply(info) == fresh(rule, info)
    shifted.line_tracks["d"][0].pop()
    assert shifted.semi_apply(info) == fresh(shifted, info)


@pytest.mark.parametrize("value, replaying", [("1", False), ("yes", False), ("0", True), ("", True)])
def test_the_environment_switch_is_read_at_import(value, replaying):
    env = dict(os.environ, HALVANE_NO_REPLAY=value)
    out = subprocess.run([sys.executable, "-c", "from halvane import rule; print(rule._replaying())"],
                         env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == str(replaying)


@pytest.mark.skipif(not hr._replaying(), reason="replays are switched off (HALVANE_NO_REPLAY)")
def test_a_second_application_is_replayed():
    rule, info = setup()
    first = rule.semi_apply(info, d__amp=0.3)
    before = hr._replay_count()
    again = rule.semi_apply(info, d__amp=0.3)
    assert hr._replay_count() == before + 1
    assert again == first and again[1]["L"][0][0] is not first[1]["L"][0][0]
