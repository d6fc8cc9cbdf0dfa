"""Errors keep their type and message and carry notes that say where they arose."""

import pytest

from halvane import circuit, rule, wavespec, wavespec_handling as wh
from halvane import waveintent_enumeration as r

LI = {"N": 4000, "srate": 2e9, "offset_global": 0}
PDT = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 5e9, "phase": 0, "phase1": 0,
       "vz": 0}
CAL = {"pi": {"amp": 0.5, "width": 40e-9, "plateau": 0, "phase_offs": 0.0}}
I = circuit.INSTRUCTION


def pulse(**kw):
    return dict({"shape": "cos", "pos": 0, "width": 40e-9, "plateau": 0, "amp": 0.5, "freq": 1e8, "phase": 0,
                 "phase1": 0}, **kw)


def raised(f, *args):
    with pytest.raises(Exception) as info:
        f(*args)
    return info.value


@pytest.mark.parametrize("pds, error, notes", [
    ([pulse(), pulse(shape="cosine", pos=6.5e-7)], KeyError("cosine"), [
        "while sampling entry #1 (pulse, shape 'cosine', pos 6.5e-07 s)",
        # The table's names in its order, whatever shapes it holds.
        f"'cosine' is not a name in shapeTable ({', '.join(map(repr, wh.shapeTable))}); did you mean 'cos'?"]),
    ([pulse(), pulse(), {"edge_shape": "sine_edge", "pos": 1e-7, "width": 1e-8, "amp": 1}], KeyError("plateau"),
     ["while sampling entry #2 (level step, edge_shape 'sine_edge', pos 1e-07 s)"]),
    ([{"edge_shape": "cos", "pos": 1e-7, "width": 1e-8, "plateau": 0, "amp": 1}],
     TypeError("'float' object is not subscriptable"),
     ["while sampling entry #0 (level step, edge_shape 'cos', pos 1e-07 s)",
      "edge_shape 'cos' names an envelope shape, called as f(X, pd, cp); a level step needs an edge "
      "f(X, x0, w) such as 'sine_edge'"]),
    ([pulse(), pulse(), pulse(), 7], TypeError("'int' object is not subscriptable"),
     ["while sampling entry #3 (int)"]),
    (iter([{k: v for k, v in pulse().items() if k != "phase1"}]), KeyError("phase1"),
     ["while sampling entry #0 (pulse, shape 'cos', pos 0 s)"]),
    ([pulse(shape=lambda X, pd, cp: 1 / 0)], ZeroDivisionError("division by zero"),
     ["while sampling entry #0 (pulse, shape <function"]),
])
def test_sampling_notes(pds, error, notes):
    e = raised(wh.pdc2pulse, pds, LI)
    assert type(e) is type(error) and e.args == error.args
    assert len(e.__notes__) == len(notes)
    for got, want in zip(e.__notes__, notes):
        assert got.startswith(want) and (got == want or want.endswith("<function"))


def test_wavespec_sample_notes_the_entry():
    ws = wavespec.WaveSpec([pulse(), pulse(pos=1e-7, phase1="a")])
    e = raised(ws.sample, 2e9)
    assert type(e) is TypeError
    assert e.__notes__ == ["while sampling entry #1 (pulse, shape 'cos', pos 1e-07 s)"]


def test_wavespec_window_too_long_to_allocate_says_its_size():
    # stop=1e5 meant as ns: 2e14 samples, more than any address space holds.
    e = raised(wavespec.WaveSpec([pulse()], stop=100000).sample, 2e9)
    assert isinstance(e, MemoryError)
    assert e.__notes__ == ["the window [0, 100000) s at 2000000000.0 samples/s is 200000000000000 samples; "
                           "times are in seconds (100 ns is 100e-9)"]


def test_a_shape_name_rebound_into_the_table_gets_no_shape_note(monkeypatch):
    monkeypatch.setitem(wh.shapeTable, "mine", wh.cosine)
    wh.pdc2pulse([pulse(shape="mine")], LI)
    e = raised(wh.pdc2pulse, [pulse(shape="mien")], LI)
    assert "did you mean 'mine'?" in e.__notes__[1]


def test_a_key_error_named_after_a_shape_of_the_table_gets_no_shape_note(monkeypatch):
    def mine(X, pd, cp):
        raise KeyError("mine")
    monkeypatch.setitem(wh.shapeTable, "mine", mine)
    e = raised(wh.pdc2pulse, [pulse(shape="mine")], LI)
    assert isinstance(e, KeyError) and not any("shapeTable" in n for n in e.__notes__), e.__notes__


def test_a_note_that_cannot_be_added_leaves_the_error_alone():
    class Stubborn(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes")

    def shape(X, pd, cp):
        raise Stubborn("mine")

    e = raised(wh.pdc2pulse, [pulse(shape=shape)], LI)
    assert type(e) is Stubborn and e.args == ("mine",) and not hasattr(e, "__notes__")


def test_rule_notes_marker_track_pulse_and_recipe():
    R = rule.RULE(d=[[r.X_p()], [r.I_p(), r.Y2_p()]], z=[[r.I_p()]])
    e = raised(R.semi_apply, {"d": {"nm": "q0", "pdt": PDT, "cp": CAL}})
    assert type(e) is KeyError and e.args == ("pi2",)
    assert e.__notes__ == ["while applying RULE at marker 'd', track #1, pulse #1 (recipe Y2_p)"]


def test_rule_notes_the_markers_the_qubit_information_has():
    R = rule.RULE(d=[[r.X_p()]])
    e = raised(R.semi_apply, {"dd": {"nm": "q0", "pdt": PDT, "cp": CAL}})
    assert type(e) is KeyError and e.args == ("d",)
    assert e.__notes__ == ["while applying RULE at marker 'd'",
                           "the qubit information has no marker 'd'; its markers are ['dd']"]


def test_rule_note_names_a_subclass_and_its_recipe():
    class MyRule(rule.RULE):
        pass

    class MyX(r.X_p):
        pass

    e = raised(MyRule(d=[[MyX()]]).semi_apply, {"d": {"nm": "q0", "pdt": PDT, "cp": {}}})
    assert e.__notes__ == ["while applying MyRule at marker 'd', track #0, pulse #0 (recipe MyX)"]


RULES = {"X": rule.RULE(d=[[r.X_p()]]), "Y": rule.RULE(d=[[r.Y2_p()]]), "B": rule.RULE()}
INFO = {"0": {"d": {"nm": "q0", "pdt": PDT, "cp": CAL}}}


@pytest.mark.parametrize("apply", [lambda ins: circuit.semi_apply(circuit.Circuit(ins), RULES, INFO),
                                   lambda ins: circuit.semi_apply_simple(ins, RULES, INFO)],
                         ids=["semi_apply", "semi_apply_simple"])
@pytest.mark.parametrize("ins, key, notes", [
    ([I("X", 0), I("Y", 0, amp=0.1)], "pi2",
     ["while applying RULE at marker 'd', track #0, pulse #0 (recipe Y2_p)",
      "while applying the rules to instruction #1 Y(0,amp=0.1), qubit key '0'"]),
    ([I("X", 0), I("B"), I("X", 0, 1)], "0x1",
     ["while applying the rules to instruction #2 X(0,1), qubit key '0x1'",
      "the qubit information has no key '0x1'; its keys are ['0']"]),
    ([I("Xx", 0)], "Xx",
     ["while applying the rules to instruction #0 Xx(0), qubit key '0'",
      "rules has no key 'Xx'; its keys are ['X', 'Y', 'B']"]),
])
def test_circuit_notes(apply, ins, key, notes):
    e = raised(apply, ins)
    assert type(e) is KeyError and e.args == (key,) and str(e) == repr(key)
    assert e.__notes__ == notes


@pytest.mark.parametrize("schedule", [circuit.ASAP, circuit.ALAP])
@pytest.mark.parametrize("ins", [[I("X", 0), I("B")], [I("X", 0)]])
def test_scheduling_before_rules_is_noted(schedule, ins):
    e = raised(schedule, circuit.Circuit(ins))
    assert type(e) is AttributeError
    assert e.__notes__ == ["the circuit has not been through semi_apply: instruction #0 X(0) has no line tracks "
                           "(lts is None); apply the rules before scheduling"]


def test_collecting_before_rules_is_noted():
    e = raised(circuit.collect_pdc, circuit.Circuit([I("X", 0)]))
    assert type(e) is AttributeError and str(e) == "'NoneType' object has no attribute 'items'"
    assert e.__notes__ == ["the circuit has not been through semi_apply: instruction #0 X(0) has no line tracks "
                           "(lts is None); apply the rules before collecting"]


def test_scheduling_errors_after_rules_get_no_such_note():
    circ = circuit.semi_apply(circuit.Circuit([I("X", 0)]), RULES, INFO)
    circ.ins[0].dur = "long"
    e = raised(circuit.ASAP, circ)
    assert type(e) is TypeError and not hasattr(e, "__notes__")


def test_notes_keep_what_they_can_read():
    # A track that cannot be indexed: the note names the place without the recipe.
    R = rule.RULE(d=[iter([r.Y2_p()])])
    e = raised(R.semi_apply, {"d": {"nm": "q0", "pdt": PDT, "cp": CAL}})
    assert e.__notes__ == ["while applying RULE at marker 'd', track #0, pulse #0"]
    # Qubits that are no sequence: neither a printed form nor a qubit key.
    ins = I("X")
    ins.qubits = 5
    e = raised(circuit.semi_apply, circuit.Circuit([ins]), RULES, INFO)
    assert type(e) is TypeError and e.__notes__ == ["while applying the rules to instruction #0"]


@pytest.mark.parametrize("li, error, note", [
    ({"N": 40, "offset_global": 0}, KeyError("srate"), "the sampling record has no key 'srate'; it needs 'N', "
     "'srate' and 'offset_global', and may give 'st' and 'extra'"),
    ({"N": 40, "srate": 2e9}, KeyError("offset_global"), "the sampling record has no key 'offset_global'"),
    ({"srate": 2e9, "offset_global": 0}, KeyError("N"), "the sampling record has no key 'N'"),
    (dict(LI, N=40.0), TypeError("'float' object cannot be interpreted as an integer"),
     "the sampling record's 'N' is float, not an int: N is the number of samples"),
])
@pytest.mark.parametrize("sample", [lambda li: wh.pdc2pulse([pulse()], li),
                                    lambda li: wh.sample_lines({"q0": [pulse()]}, li)])
def test_a_faulty_sampling_record_is_noted(sample, li, error, note):
    e = raised(sample, li)
    assert type(e) is type(error) and e.args == error.args
    assert e.__notes__[0].startswith(note), e.__notes__


def test_an_invalid_alignment_names_the_valid_ones():
    e = raised(lambda: rule.RULE(d=[[r.X_p()]], _align="centre"))
    assert type(e) is AssertionError and str(e) == " Invalid alignment option centre"
    assert e.__notes__ == ["_align must be 'left', 'right' or 'center'"]


def test_one_instruction_for_a_circuit_says_to_make_a_list(monkeypatch):
    e = raised(circuit.Circuit, I("X", 0))
    assert type(e) is TypeError
    assert str(e) == "Circuit takes a list of instructions, not one instruction: write Circuit([X(0)])"
    monkeypatch.delattr(circuit, "INSTRUCTION")  # the check does not read the global
    assert circuit.Circuit([]).ins == []


class Unshowable:
    """A shape whose repr fails."""

    def __call__(self, X, pd, cp):
        raise ValueError("the shape's own error")

    def __repr__(self):
        raise RuntimeError("repr fails")


class UnshowableName(str):
    def __repr__(self):
        raise RuntimeError("repr fails")


@pytest.mark.parametrize("shape, error", [
    (Unshowable(), ValueError("the shape's own error")),
    (UnshowableName("cos"), TypeError("pulse shape <UnshowableName object> is neither a str nor callable")),
])
def test_a_shape_whose_repr_fails_leaves_the_error_and_its_place(shape, error):
    e = raised(wh.pdc2pulse, [pulse(shape=shape, pos=1e-8)], LI)
    assert type(e) is type(error) and e.args == error.args
    assert e.__notes__[0] == f"while sampling entry #0 (pulse, shape <{type(shape).__name__} object>, pos 1e-08 s)"
