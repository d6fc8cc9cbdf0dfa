"""Every public callable pickles by reference and travels to a spawned process."""

import copy
import importlib
import multiprocessing
import pickle

import numpy as np
import pytest

from halvane import circuit as hc
from halvane import wavespec as ws
from halvane import wavespec_handling as wh

MODULES = ["brick", "circuit", "rule", "waveintent", "waveintent_enumeration", "wavespec", "wavespec_handling"]


def _own_callables():
    """(label, object) for every function of the seven modules and every
    method defined on their classes."""
    found = []
    for name in MODULES:
        mod = importlib.import_module(f"halvane.{name}")
        for attr, obj in vars(mod).items():
            if getattr(obj, "__module__", None) != mod.__name__ or attr.startswith("__"):
                continue
            if isinstance(obj, type):
                found += [(f"{name}.{attr}.{m}", f) for m, f in vars(obj).items()
                          if type(f).__module__ == "nanobind"]
            if callable(obj):
                found.append((f"{name}.{attr}", obj))
    return found


CALLABLES = _own_callables()
GATES = {}
hc.instructification(["X", "CZ", "\ud800"], GATES)
LINE = [{"shape": "cos", "pos": 2e-9, "width": 8e-9, "plateau": 0, "amp": 0.5, "freq": 1e8,
         "phase": 0, "phase1": 0}]
RECORD = {"N": 40, "srate": 2e9, "offset_global": 0.0}


def _travel(objs):
    """Run in the spawned worker: use what arrived, and send it back."""
    sampled = objs["pdc2pulse"](LINE, RECORD)
    ins = objs["gates"]["CZ"](0, 1, q0__amp=0.5)
    return objs, sampled, (ins.nm, ins.qubits, ins.kwds, type(ins).__name__)


def test_all_callables_were_found():
    labels = {label for label, _ in CALLABLES}
    assert {"wavespec_handling.pdc2pulse", "circuit.instructification", "circuit._ASAP", "rule.get_rule",
            "brick.catch", "waveintent_enumeration.pi_gate", "wavespec.WaveSpec.sample",
            "circuit.INSTRUCTION.__init__"} <= labels
    assert len(CALLABLES) > 80


@pytest.mark.parametrize("label,obj", CALLABLES, ids=[label for label, _ in CALLABLES])
def test_pickles_by_reference(label, obj):
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(obj, protocol)) is obj, label
    assert copy.copy(obj) is obj and copy.deepcopy(obj) is obj


def test_bound_method_pickles_with_its_instance():
    line = ws.WaveSpec(LINE, stop=20e-9)
    again = pickle.loads(pickle.dumps(line.sample))
    assert type(again.__self__) is ws.WaveSpec and again.__self__.pds == LINE
    np.testing.assert_array_equal(again(2e9), line.sample(2e9))


def test_rebound_function_no_longer_pickles(monkeypatch):
    original = wh.carrier
    monkeypatch.setattr(wh, "carrier", lambda *a: None)
    with pytest.raises(pickle.PicklingError, match="not the same object"):
        pickle.dumps(original)


@pytest.mark.parametrize("name", list(GATES))
def test_gate_constructor_rebuilds_from_its_name(name):
    ctor = GATES[name]
    again = pickle.loads(pickle.dumps(ctor))
    assert type(again) is type(ctor) and again.gate == name and vars(again) == vars(ctor)
    assert pickle.loads(pickle.dumps(ctor, 0)).__doc__ == ctor.__doc__
    ins = again(3, amp=1)
    assert (type(ins), ins.nm, ins.qubits, ins.kwds) == (hc.INSTRUCTION, name, (3,), {"amp": 1})
    assert repr(copy.deepcopy(ctor)) == f"<constructor of gate {name!r}>"


def test_everything_travels_to_a_spawned_process():
    objs = {"all": [obj for _, obj in CALLABLES], "pdc2pulse": wh.pdc2pulse, "gates": GATES}
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        back, sampled, ins = pool.apply(_travel, (objs,))
    assert all(a is b for a, b in zip(back["all"], objs["all"], strict=True))
    assert back["pdc2pulse"] is wh.pdc2pulse
    assert {k: v.gate for k, v in back["gates"].items()} == {k: k for k in GATES}
    for got, want in zip(sampled, wh.pdc2pulse(LINE, RECORD), strict=True):
        np.testing.assert_array_equal(got, want)
    assert ins == ("CZ", (0, 1), {"q0__amp": 0.5}, "INSTRUCTION")
