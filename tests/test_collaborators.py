"""Every call-time collaborator a module declares is honoured when rebound.

Each module lists its collaborators in `_collaborators`. For every entry the
test rebinds it to a recording stand-in (a module global to a recording
wrapper, an attribute `g.f` to a stand-in for `g` whose `f` records), runs a
call that reaches it, and checks what the stand-in was called with.
"""

import types

import numpy as np
import pytest

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent_enumeration as we
from halvane import wavespec as ws
from halvane import wavespec_handling as wh

MODULES = {"rule": hr, "circuit": hc, "wavespec": ws, "waveintent_enumeration": we, "wavespec_handling": wh}


def recording(calls, label, f):
    def g(*args, **kw):
        calls.append((label, args))
        return f(*args, **kw)
    return g


class Standin:
    """An object whose attributes are `target`'s, the functions among them
    (or only `only`) recording their calls under '<name>.<attr>'."""

    def __init__(self, target, calls, name, only=None):
        self._target, self._calls, self._name, self._only = target, calls, name, only

    def __getattr__(self, attr):
        v = getattr(self._target, attr)
        if (self._only in (None, attr)) and callable(v) and not isinstance(v, type):
            return recording(self._calls, f"{self._name}.{attr}", v)
        return v


def standin(calls, name, value):
    """A recording stand-in for the global `name` bound to `value`."""
    if isinstance(value, types.ModuleType):
        return Standin(value, calls, name)
    if isinstance(value, dict):
        class Table(dict):
            def __getitem__(self, k):
                calls.append((name, (k,)))
                return dict.__getitem__(self, k)
        return Table(value)
    if isinstance(value, float):
        class Number(float):
            def __rmul__(self, k):
                calls.append((name, ("*", k)))
                return k * float(self)

            def __truediv__(self, d):
                calls.append((name, ("/", d)))
                return float(self) / d
        return Number(value)
    return recording(calls, name, value)


def rebind(monkeypatch, module, entry, calls):
    name, _, attr = entry.partition(".")
    value = getattr(module, name)
    new = Standin(value, calls, name, only=attr) if attr else standin(calls, name, value)
    monkeypatch.setattr(module, name, new)


# ---- the calls that reach each collaborator ------------------------------------

T = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 5.0, "phase": 0, "phase1": 0, "vz": 0}
CP = {"pi": {"amp": 0.5, "width": 20, "plateau": 0, "phase_offs": 0.1},
      "pi2": {"amp": 0.25, "width": 10, "plateau": 0, "phase_offs": 0.1},
      "pi12": {"amp": 0.4, "width": 30, "plateau": 0, "phase_offs": 0.2},
      "pi23": {"amp": 0.3, "width": 30, "plateau": 0, "phase_offs": 0.3},
      "fp": {"amp": 0.1, "width": 4, "plateau": 6}}
INFO = {"d": {"nm": "q0", "pdt": T, "cp": CP}, "z": {"nm": "z0", "pdt": T, "cp": CP}}


def apply_rule():
    r = hr.RULE(d=[[we.X_p(), we.I_p(plateau=5)]], z=[[we.F_p(amp=0.1, width=4, plateau=6)]], _align="center")
    return r.semi_apply(INFO, d__amp=0.3)


def compile_circuit(schedule="ASAP"):
    rules = {"X": hr.RULE(d=[[we.X_p()]]), "CZ": hr.RULE_COMP([[[(0, 1)], hr.RULE(d=[[we.I_p(plateau=40)]])]])}
    info = {"0": {"d": INFO["d"]}, "1": {"d": {"nm": "q1", "pdt": T, "cp": CP}}, "0x1": {"d": INFO["d"]}}
    c = hc.Circuit([hc.INSTRUCTION("X", 0), hc.INSTRUCTION("CZ", 0, 1), hc.INSTRUCTION("X", 1)])
    hc.semi_apply(c, rules, info)
    getattr(hc, schedule)(c, 10) if schedule == "ALAP" else hc.ASAP(c, st_pos=10)
    return c


def link_and_print():
    c = hc.Circuit([hc.INSTRUCTION("X", 0), hc.INSTRUCTION("X", 0)])
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    hc.print_circuit_dag(c)


def make_gate():
    ns = {}
    hc.instructification(["G"], ns)
    return ns["G"](0, 1, amp=2)


def sample_line(**extra):
    pds = [{"edge_shape": "sine_edge", "pos": -2e-8, "width": 4e-9, "plateau": 0, "amp": 0.2},
           dict(T, pos=1e-8, width=2e-8, amp=0.5, freq=5e8, drag_scale=1e-10),
           dict(T, shape="hyper", pos=5e-8, width=2e-8, amp=0.5, epsilon=3),
           dict(T, shape="tanh", pos=8e-8, width=2e-8, amp=0.5, epsilon=2),
           dict(T, shape="sine", pos=1.1e-7, width=2e-8, amp=0.5),
           dict(T, shape="sinedpi", pos=1.4e-7, width=2e-8, amp=0.5),
           dict(T, shape="square", pos=1.7e-7, width=2e-8, amp=0.5),
           dict(T, shape="cos", pos=2e-7, width=0, plateau=2e-8, amp=0.5)]
    li = dict(N=400, srate=2e9, offset_global=0.0, **extra)
    return wh.pdc2pulse(pds, li)


IIR = {"a": [0.1, 0.2, 1e-7, 5e-10]}
FIR = ([0.9, 0.1], 0.0, 1.0)


def is_pd(x):
    return isinstance(x, dict) and "width" in x


def is_track(x):
    return isinstance(x, list) and all(is_pd(p) for p in x)


def is_ins(x):
    return isinstance(x, hc.INSTRUCTION)


def is_times(x):
    return isinstance(x, np.ndarray) and x.dtype == np.float64


# module: entry -> (the call, the label it is recorded under, a test of its arguments)
CASES = {
    "rule": {
        "brick": (apply_rule, "brick.catch", lambda a: a == ({"d__amp": 0.3}, "d")),
        "move_track": (apply_rule, "move_track", lambda a: is_track(a[0]) and a[1] == 0.0),
        "brick.catch": (apply_rule, "brick.catch", lambda a: a == ({"d__amp": 0.3}, "d")),
        "brick.pulse_duration": (apply_rule, "brick.pulse_duration", lambda a: len(a) == 1 and is_pd(a[0])),
        "brick.check_iterable": (lambda: hr.RULE_COMP([[[0, 1], hr.RULE()]]), "brick.check_iterable",
                                 lambda a: a == ([0, 1],)),
        "brick.from_xqubits": (lambda: hr.RULE_COMP([[["1x0"], hr.RULE()]]), "brick.from_xqubits",
                               lambda a: a == ("1x0",)),
        "brick.to_xqubits": (lambda: hr.RULE_COMP([[[(0, 1)], hr.RULE()]]), "brick.to_xqubits",
                             lambda a: a == ((0, 1),)),
        "brick.isit": (lambda: hr.get_rule(hr.RULE(), "0"), "brick.isit",
                       lambda a: isinstance(a[0], hr.RULE) and a[1] == "RULE_COMP"),
    },
    "circuit": {
        "rule": (compile_circuit, "rule.get_rule", lambda a: isinstance(a[0], hr.RULE) and a[1] == "0"),
        "brick": (compile_circuit, "brick.to_xqubits", lambda a: a == ((0,),)),
        "np": (compile_circuit, "np.max", lambda a: isinstance(a[0], list)),
        "INSTRUCTION": (make_gate, "INSTRUCTION",
                        lambda a: a == ("G", 0, 1)),
        "get_nxt_ins": (link_and_print, "get_nxt_ins", lambda a: len(a) == 1 and is_ins(a[0])),
        "get_pre_ins": (link_and_print, "get_pre_ins", lambda a: len(a) == 1 and is_ins(a[0])),
        "set_nxt_ins": (link_and_print, "set_nxt_ins", lambda a: len(a) == 2 and all(map(is_ins, a))),
        "set_pre_ins": (link_and_print, "set_pre_ins", lambda a: len(a) == 2 and all(map(is_ins, a))),
        "_ASAP": (compile_circuit, "_ASAP", lambda a: len(a) == 1 and isinstance(a[0], hc.Circuit)),
        "_ALAP": (lambda: compile_circuit("ALAP"), "_ALAP", lambda a: len(a) == 1 and isinstance(a[0], hc.Circuit)),
        "shift_circ": (compile_circuit, "shift_circ", lambda a: isinstance(a[0], hc.Circuit) and a[1] == 10),
        "flush_gate_pos_to_pds": (compile_circuit, "flush_gate_pos_to_pds",
                                  lambda a: len(a) == 1 and isinstance(a[0], hc.Circuit)),
        "rule.get_rule": (compile_circuit, "rule.get_rule", lambda a: isinstance(a[0], hr.RULE) and a[1] == "0"),
        "rule.move_track": (compile_circuit, "rule.move_track", lambda a: is_track(a[0]) and a[1] == 10),
        "brick.to_xqubits": (compile_circuit, "brick.to_xqubits", lambda a: a == ((0,),)),
        "np.max": (compile_circuit, "np.max", lambda a: isinstance(a[0], list)),
        "np.min": (lambda: compile_circuit("ALAP"), "np.min", lambda a: isinstance(a[0], list)),
    },
    "wavespec": {
        "pulse_compute.pdc2pulse": (lambda: ws.WaveSpec([dict(T, pos=1e-8, width=2e-8, amp=0.5)], 0, 1e-7).sample(1e9),
                                    "pulse_compute.pdc2pulse",
                                    lambda a: isinstance(a[0], list) and a[1]["N"] == 100),
    },
    "waveintent_enumeration": {
        "pi_gate": (lambda: we.X_p().get_pd(T, CP), "pi_gate", lambda a: is_pd(a[0]) and a[1] is CP),
        "pi2gate": (lambda: we.X2_p().get_pd(T, CP), "pi2gate", lambda a: is_pd(a[0]) and a[1] is CP),
        "pi12_gate": (lambda: we.X12_p().get_pd(T, CP), "pi12_gate", lambda a: is_pd(a[0]) and a[1] is CP),
        "pi23_gate": (lambda: we.X23_p().get_pd(T, CP), "pi23_gate", lambda a: is_pd(a[0]) and a[1] is CP),
        "pi": (lambda: we.Y_p().get_pd(T, CP), "pi", lambda a: a == ("/", 2)),
    },
    "wavespec_handling": {
        "rng": (sample_line, "rng", lambda a: is_pd(a[0]) and a[1:] == (0, 2e9, 400)),
        "grad": (sample_line, "grad", lambda a: isinstance(a[0], np.ndarray) and a[0].dtype == np.complex128),
        "carrier": (sample_line, "carrier", lambda a: is_times(a[0]) and a[1:] == (5e8, 0, 0)),
        "cal_iir_coef": (lambda: sample_line(extra=IIR), "cal_iir_coef", lambda a: a == (IIR["a"],)),
        "fix": (lambda: sample_line(extra=IIR), "fix", lambda a: is_times(a[0]) and a[3] is None),
        "shapeTable": (sample_line, "shapeTable", lambda a: a == ("sine_edge",)),
        "square": (sample_line, "square", lambda a: is_times(a[0]) and is_pd(a[1])),
        "sine_edge": (sample_line, "sine_edge", lambda a: is_times(a[0]) and len(a) == 5),
        "sine_edge_2pi": (sample_line, "sine_edge_2pi", lambda a: is_times(a[0]) and len(a) == 3),
        "seige": (sample_line, "seige", lambda a: len(a) == 4),
        "seige2pi": (sample_line, "seige2pi", lambda a: len(a) == 2),
        "mn": (sample_line, "mn", lambda a: len(a) == 2),
        "lfilter": (lambda: sample_line(extra=IIR), "lfilter", lambda a: len(a[0]) == 2 and len(a[1]) == 2),
        "IIR_filtering": (lambda: sample_line(extra=IIR), "IIR_filtering",
                          lambda a: len(a) == 4 and is_times(a[3][0])),
        "FIR_filtering": (lambda: wh.fix(np.arange(8.0), np.ones(8, complex), None, FIR), "FIR_filtering",
                          lambda a: a[:3] == FIR and len(a[3]) == 2),
        "np": (sample_line, "np.cosh", lambda a: len(a) == 1),
        "np.tanh": (sample_line, "np.tanh", lambda a: isinstance(a[0], np.ndarray)),
        "np.cosh": (sample_line, "np.cosh", lambda a: len(a) == 1),
        "np.max": (sample_line, "np.max", lambda a: isinstance(a[0], np.ndarray)),
        "np.exp": (sample_line, "np.exp", lambda a: a[0] == 1j * 0),
        "pdc2pulse": (lambda: wh.sample_lines({"q": [dict(T, pos=1e-8, width=2e-8, amp=0.5)]},
                                              {"N": 100, "srate": 1e9, "offset_global": 0}),
                      "pdc2pulse", lambda a: isinstance(a[0], list) and a[1]["N"] == 100),
    },
}


def test_every_declared_collaborator_has_a_case():
    for name, module in MODULES.items():
        assert sorted(module._collaborators) == sorted(CASES[name]), name


@pytest.mark.parametrize("module, entry", [(m, e) for m in CASES for e in CASES[m]])
def test_a_rebound_collaborator_is_called_with_its_arguments(monkeypatch, module, entry):
    run, label, args_ok = CASES[module][entry]
    calls = []
    rebind(monkeypatch, MODULES[module], entry, calls)
    with np.errstate(all="ignore"):
        run()
    seen = [args for (name, args) in calls if name == label]
    assert seen, f"{module}.{entry} was not called"
    assert args_ok(seen[0]), seen[0]


@pytest.mark.parametrize("module, entry", [(m, e) for m in CASES for e in CASES[m] if "." not in e])
def test_a_deleted_collaborator_raises_name_error(monkeypatch, module, entry):
    run, _, _ = CASES[module][entry]
    monkeypatch.delattr(MODULES[module], entry)
    with pytest.raises(NameError, match=f"^name '{entry}' is not defined"), np.errstate(all="ignore"):
        run()
