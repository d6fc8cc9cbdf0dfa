"""Readable reprs of circuits, rules, rule complexes, recipes and WaveSpec,
also for user subclasses and for objects in odd states."""

import itertools

import numpy as np
import pytest
from scheduled import RULES, example

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent as wi
from halvane import waveintent_enumeration as we
from halvane import wavespec as ws


class Mixin:
    pass


class MyCircuit(Mixin, hc.Circuit):
    pass


class MyRule(Mixin, hr.RULE):
    pass


class MyComp(hr.RULE_COMP):
    pass


class MyRecipe(Mixin, we.X_p):
    pass


class MySpec(ws.WaveSpec):
    pass


class Broken(hc.Circuit):
    @property
    def ins(self):
        raise RuntimeError("unreadable")


class Unshowable:
    def __repr__(self):
        raise RuntimeError("no")


RECIPES = [name for name in dir(we) if name.endswith("_p") and isinstance(getattr(we, name), type)]


def test_circuit_states():
    assert repr(example(measure=True)) == "<Circuit: 5 instructions on qubits 0, 1, scheduled 0 .. 180 ns>"
    assert repr(example(schedule=False)) == "<Circuit: 3 instructions on qubits 0, 1, not scheduled>"
    assert repr(hc.Circuit([])) == "<Circuit: 0 instructions>"
    g = {}
    hc.instructification(["X", "B"], g)
    assert repr(hc.Circuit([g["X"](3), g["B"](), g["X"](1)])) == "<Circuit: 3 instructions on qubits 1, 3, not scheduled>"


def test_circuit_span_after_alap_and_numpy_positions():
    circ = example(schedule=False)
    from scheduled import QUBITS

    hc.semi_apply(circ, RULES, QUBITS)
    hc.ALAP(circ, ed_pos=np.float64(2e-6))
    assert repr(circ) == "<Circuit: 3 instructions on qubits 0, 1, scheduled 1.92 .. 2 µs>"


def test_circuit_subclass_odd_state_and_many_qubits():
    assert repr(MyCircuit([])) == "<MyCircuit: 0 instructions>"
    assert repr(Broken.__new__(Broken)) == "<Broken: no instructions>"
    odd = hc.Circuit(5)
    assert repr(odd) == "<Circuit: ins of type int>"
    del odd.ins
    assert repr(odd) == "<Circuit: no instructions>"
    assert repr(hr.RULE(**{"d\udc80": []})) == "RULE(d\\udc80=[], _align='left')"  # a lone surrogate
    named = hc.Circuit([hc.INSTRUCTION("X", "a"), hc.INSTRUCTION("X", "b", "a")])
    assert repr(named) == "<Circuit: 2 instructions on qubits 'a', 'b', not scheduled>"
    wide = hc.Circuit([hc.INSTRUCTION("X", *range(12))])
    assert repr(wide) == "<Circuit: 1 instruction on qubits 0, 1, 2, 3, 4, 5, 6, 7, ... (12 qubits), not scheduled>"


def test_circuit_repr_reads_no_iterator_of_the_callers():
    endless = hc.INSTRUCTION("X", 0)
    endless.qubits = itertools.count()
    assert repr(hc.Circuit([endless])) == "<Circuit: 1 instruction, not scheduled>"
    gates = iter([hc.INSTRUCTION("X", 0)])
    assert repr(hc.Circuit(gates)) == "<Circuit: ins of type list_iterator>"
    assert len(list(gates)) == 1


def test_circuit_html_is_the_schedule_table_once_scheduled():
    page = example()._repr_html_()
    assert page.startswith("<p>&lt;Circuit: 3 instructions") and page.count("<tr>") == 4
    assert "<td>CZ(0,1)</td>" in page
    assert example(schedule=False)._repr_html_() is None
    assert hc.Circuit(5)._repr_html_() is None


def test_rule_repr_rebuilds_the_rule():
    for r in RULES.values():
        again = eval(repr(r), vars(we) | {"RULE": hr.RULE})
        assert repr(again) == repr(r)
    assert repr(RULES["CZ"]) == "RULE(c=[[F_p()]], d0=[[Vz_p()]], d1=[[Vz_p()]], _align='center')"
    assert repr(hr.RULE(_note="x", d=[[we.X_p(amp=0.3)], []])) == "RULE(d=[[X_p(amp=0.3)], []], _note='x', _align='left')"


def test_rule_subclass_and_odd_state():
    assert repr(MyRule(d=[[MyRecipe(amp=np.float64(0.5))]])) == "MyRule(d=[[MyRecipe(amp=0.5)]], _align='left')"
    # A track that cannot show itself shows as its type.
    assert repr(hr.RULE(d=[[Unshowable()]])) == "RULE(d=<list object>, _align='left')"
    r = hr.RULE(d=[[we.X_p()]])
    r.line_tracks["d"].append(r)
    assert repr(r) == "RULE(d=[[X_p()], RULE(...)], _align='left')"
    del r.line_tracks, r.kwds, r._align
    assert repr(r) == "RULE()"


def test_rule_comp_repr():
    rx = RULES["X"]
    assert repr(hr.RULE_COMP()) == "<RULE_COMP: no keys, default None>"
    assert repr(hr.RULE_COMP([[[0, 1], rx], ["*", rx]])) == f"<RULE_COMP: keys '0', '1', default {rx!r}>"
    assert repr(hr.RULE_COMP([[[(0, 1)], rx]])) == "<RULE_COMP: key '0x1', default None>"
    many = MyComp([[range(20), rx]])
    assert repr(many) == "<MyComp: keys '0', '1', '2', '3', '4', '5', '6', '7', ... (20 keys), default None>"
    many.complex_dict = None
    del many.default_rule
    assert repr(many) == "<MyComp: no keys, default None>"


@pytest.mark.parametrize("name", RECIPES)
def test_every_recipe_shows_its_class_keywords(name):
    cls = getattr(we, name)
    assert repr(cls()) == f"{name}()"
    assert repr(cls(amp=0.3, shape="cos")) == f"{name}(amp=0.3, shape='cos')"


def test_recipe_numpy_scalars_subclasses_and_odd_state():
    assert repr(we.X_p(amp=np.float64(0.3), n=np.int64(2), z=np.complex128(1j))) == "X_p(amp=0.3, n=2, z=1j)"
    assert repr(wi.WaveIntent(width=40e-9)) == "WaveIntent(width=4e-08)"
    assert repr(MyRecipe(phase=np.pi)) == "MyRecipe(phase=3.141592653589793)"
    odd = we.Y_p()
    odd.kw = [1]
    assert repr(odd) == "Y_p(**[1])"
    del odd.kw
    assert repr(odd) == "Y_p()"
    assert repr(we.X_p(v=Unshowable())) == "X_p(v=<Unshowable object>)"


def test_wavespec_repr():
    assert repr(ws.WaveSpec([{}, {}, {}])) == "<WaveSpec: 3 pulses, window 0 .. 50 µs>"
    assert repr(ws.WaveSpec([{}], np.float64(100e-9), 400e-9)) == "<WaveSpec: 1 pulse, window 100 .. 400 ns>"
    assert repr(MySpec([], 0, 2e-3)) == "<MySpec: 0 pulses, window 0 .. 2 ms>"
    assert repr(ws.WaveSpec([], np.complex64(1), np.int32(2))) == "<WaveSpec: 0 pulses, window (1+0j) .. 2>"
    odd = ws.WaveSpec(iter([]), "a", None)
    assert repr(odd) == "<WaveSpec: pulses in a list_iterator, window 'a' .. None>"
    del odd.pds, odd.stop
    assert repr(odd) == "<WaveSpec: no pulses>"


def test_instructions_keep_their_printed_form():
    ins = hc.INSTRUCTION("CZ", 0, 1, q0__amp=np.float64(0.5))
    assert repr(ins) == str(ins) == "CZ(0,1,q0__amp=0.5)"
    assert repr([hc.INSTRUCTION("X", 0)]) == "[X(0)]"
