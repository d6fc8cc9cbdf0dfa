"""Instructions, circuits, links and the printers."""

import copy
import pickle
import re

import pytest

from halvane import brick
from halvane import circuit as hc
from halvane import rule as hr


@pytest.mark.parametrize(
    "args, kwds, text",
    [
        (("X_p",), {}, "X_p()"),
        (("X_p", 0), {}, "X_p(0)"),
        (("CZ", 0, 1), {"q0__amp": 0.5}, "CZ(0,1,q0__amp=0.5)"),
        (("M", 2), {"tm": 1e-6}, "M(2,tm=1e-06)"),
        (("X_p", 0), {"q0__shape": "cos"}, "X_p(0,q0__shape=cos)"),
        (("B",), {"a": 1, "b": [2]}, "B(a=1,b=[2])"),
        (("X", "q", 3, 3), {}, "X(q,3,3)"),
    ],
)
def test_text_forms(args, kwds, text):
    ins = hc.INSTRUCTION(*args, **kwds)
    assert str(ins) == repr(ins) == ins.__str__() == text
    tag = hex(id(ins))[6:]
    assert ins.strid() == f"{text}<{tag}>" and re.fullmatch(r"[0-9a-f]+", tag)


def test_instruction_attributes_are_plain_instance_attributes():
    ins = hc.INSTRUCTION("CZ", 0, 1, q0__amp=0.5)
    assert vars(ins) == {"nm": "CZ", "dur": 0, "qubits": (0, 1), "kwds": {"q0__amp": 0.5}, "lts": None}
    assert list(vars(ins)) == ["nm", "dur", "qubits", "kwds", "lts"]
    assert not any(hasattr(ins, a) for a in ("pos", "pre_ins", "nxt_ins"))
    named = hc.INSTRUCTION(name="X")
    assert named.nm == "X" and named.qubits == () and named.kwds == {}
    with pytest.raises(TypeError):
        hc.INSTRUCTION()


def test_identity_tags_gate_and_subclasses():
    a, b = hc.INSTRUCTION("X", 0), hc.INSTRUCTION("X", 0)
    assert a != b and a == a and len({a, b, a}) == 2
    assert repr([hc.INSTRUCTION("X_p", 0), hc.INSTRUCTION("CZ", 0, 1)]) == "[X_p(0), CZ(0,1)]"
    g = hc.GATE("X", 1)
    assert isinstance(g, hc.INSTRUCTION) and str(g) == "X(1)"
    assert (brick.isit(g, "INSTRUCTION"), brick.m_isit(g, "GATE")) == (True, True)
    assert hc.INSTRUCTION.__mnr_type__ == hc.INSTRUCTION.__maj_type__ == "INSTRUCTION"

    class Loud(hc.INSTRUCTION):
        def __str__(self):
            return self.nm.upper()

    loud = Loud("x", 0)
    assert repr(loud) == "X" and loud.strid().startswith("X<")


def test_instructions_and_circuits_pickle_and_copy():
    c = hc.Circuit([hc.INSTRUCTION("X", 0, amp=1), hc.GATE("Y", 1)])
    c.ins[0].pos = 3
    for clone in (pickle.loads(pickle.dumps(c)), copy.deepcopy(c)):
        assert type(clone) is hc.Circuit and [type(i) for i in clone.ins] == [hc.INSTRUCTION, hc.GATE]
        assert vars(clone.ins[0]) == vars(c.ins[0]) and clone.ins[0] is not c.ins[0]
    shallow = copy.copy(c)
    assert shallow.ins is c.ins


def test_instructification(monkeypatch):
    glob = {"X_p": "old"}
    assert hc.instructification(["X_p", "CZ"], glob) is None
    cz, x = glob["CZ"](0, 1, q0__amp=0.5), glob["X_p"](2)
    assert (cz.nm, cz.qubits, cz.kwds) == ("CZ", (0, 1), {"q0__amp": 0.5})
    assert (x.nm, x.qubits, type(x)) == ("X_p", (2,), hc.INSTRUCTION)
    with pytest.raises(TypeError):
        hc.instructification(["A"], ())
    monkeypatch.setattr(hc, "INSTRUCTION", hc.GATE)  # looked up at each call
    assert type(glob["CZ"](0)) is hc.GATE


def test_instructification_stores_any_string_name():
    class Shy(str):
        def __str__(self):
            raise RuntimeError("str() of the name")

    glob = {}
    names = ["\ud800X", Shy("Y"), "a\x00b", ""]
    assert hc.instructification(names, glob) is None
    assert list(glob) == names
    for name in names:
        ins = glob[name](0, amp=1)
        assert (ins.nm, ins.qubits, ins.kwds) == (name, (0,), {"amp": 1})


def test_circuit_keeps_its_list_and_reports_measurements():
    ins = [hc.INSTRUCTION("M", 3), hc.INSTRUCTION("M", "2", 4)]
    c = hc.Circuit(ins)
    assert c.ins is ins and vars(c) == {"ins": ins}
    with pytest.raises(AttributeError):
        c.get_measurement_info()
    c.MGates = ins
    with pytest.raises(AttributeError):
        c.get_measurement_info()
    ins[0].pos, ins[1].pos = 10, 20
    assert c.get_measurement_info() is c and c.measure_info == [[10, 3], [20, 2]]
    c.MGates = []
    assert c.get_measurement_info().measure_info == []
    c.MGates = [hc.INSTRUCTION("M")]
    c.MGates[0].pos = 0
    with pytest.raises(IndexError):
        c.get_measurement_info()


def chain():
    x, cz, y = hc.INSTRUCTION("X", 0), hc.INSTRUCTION("CZ", 0, 1), hc.INSTRUCTION("Y", 1)
    return hc.Circuit([x, cz, y]), x, cz, y


def test_links():
    c, x, cz, y = chain()
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    assert (x.nxt_ins, cz.nxt_ins, cz.pre_ins, y.pre_ins) == ({cz}, {y}, {x}, {cz})
    assert not hasattr(x, "pre_ins") and not hasattr(y, "nxt_ins")
    assert hc.get_pre_ins(x) == set() and not hasattr(x, "pre_ins")
    assert hc.get_nxt_ins(x) is x.nxt_ins
    hc.forwared_dag_circuit(c)
    assert x.nxt_ins == {cz}


def test_links_on_shared_pairs_repeated_qubits_and_repeated_objects():
    a, b = hc.INSTRUCTION("CZ", 0, 1), hc.INSTRUCTION("CZ", 1, 0)
    twice = hc.INSTRUCTION("X", 2, 2)
    c = hc.Circuit([a, b, twice, a])
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    assert a.nxt_ins == {b} and b.nxt_ins == {a} and b.pre_ins == {a} and a.pre_ins == {b}
    # An instruction is never its own neighbour.
    assert not hasattr(twice, "nxt_ins") and not hasattr(twice, "pre_ins")


def test_an_instruction_listed_twice_in_a_row_is_not_its_own_neighbour():
    x, y = hc.INSTRUCTION("X", 0), hc.INSTRUCTION("Y", 0)
    c = hc.Circuit([x, x, y, y])
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    assert x.nxt_ins == {y} and y.pre_ins == {x}
    assert not hasattr(x, "pre_ins") and not hasattr(y, "nxt_ins")


def test_barriers_link_only_after_widening():
    x, bar, y = hc.INSTRUCTION("X", 0), hc.INSTRUCTION("B"), hc.INSTRUCTION("Y", 1)
    c = hc.Circuit([x, bar, y])
    hc.forwared_dag_circuit(c)
    assert not hasattr(x, "nxt_ins") and not hasattr(bar, "nxt_ins")
    hc.semi_apply(c, {"X": hr.RULE(), "Y": hr.RULE(), "B": hr.RULE()}, {"0": {}, "1": {}})
    hc.forwared_dag_circuit(c)
    assert x.nxt_ins == {bar} and bar.nxt_ins == {y}


def test_link_functions_are_looked_up_at_call_time(monkeypatch):
    c, x, cz, y = chain()
    seen = []
    monkeypatch.setattr(hc, "set_pre_ins", lambda ins, pre: seen.append((ins.nm, pre.nm)))
    hc.backward_dag_circuit(c)
    assert seen == [("CZ", "X"), ("Y", "CZ")] and not hasattr(cz, "pre_ins")


def test_print_circuit(capsys):
    c, *_ = chain()
    hc.print_circuit(c)
    hc.print_circuit(hc.Circuit([]))
    assert capsys.readouterr().out == "[X(0),CZ(0,1),Y(1)]\n[]\n"


def test_print_circuit_dag(capsys):
    c, *_ = chain()
    hc.print_circuit_dag(c)
    assert capsys.readouterr().out == (
        "[\n"
        "X(0) after:  set() before:  set()\n"
        "CZ(0,1) after:  set() before:  set()\n"
        "Y(1) after:  set() before:  set()\n"
        "]\n")
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    hc.print_circuit_dag(c)
    assert capsys.readouterr().out == (
        "[\n"
        "X(0) after:  {CZ(0,1)} before:  set()\n"
        "CZ(0,1) after:  {Y(1)} before:  {X(0)}\n"
        "Y(1) after:  set() before:  {CZ(0,1)}\n"
        "]\n")
    hc.print_circuit_dag(hc.Circuit([]))
    assert capsys.readouterr().out == "[\n]\n"


def test_print_circuit_dag_strid(capsys):
    c, x, cz, y = chain()
    hc.print_circuit_dag_strid(c)
    assert capsys.readouterr().out.splitlines()[1] == f"{x.strid()} after:   before:  "
    hc.forwared_dag_circuit(c)
    hc.backward_dag_circuit(c)
    hc.print_circuit_dag_strid(c)
    assert capsys.readouterr().out == (
        "[\n"
        f"{x.strid()} after:  {cz.strid()} before:  \n"
        f"{cz.strid()} after:  {y.strid()} before:  {x.strid()}\n"
        f"{y.strid()} after:   before:  {cz.strid()}\n"
        "]\n")
    hc.print_circuit_dag_strid(hc.Circuit([]))
    assert capsys.readouterr().out == "[\n]\n"
