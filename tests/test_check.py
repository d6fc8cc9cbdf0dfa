"""halvane.check finds the silent mistakes, with a suggestion, and nothing on a sound device."""

import copy
import pathlib
import runpy
import sys

import numpy as np
import pytest

from halvane import check, circuit, rule
from halvane import waveintent_enumeration as r
from halvane import wavespec_handling as wh

QUICKSTART = pathlib.Path(__file__).resolve().parent.parent / "examples" / "quickstart.py"


def pulse(**kw):
    pd = {"shape": "cos", "pos": 0, "width": 40e-9, "plateau": 0, "amp": 0.5, "freq": 100e6,
          "phase": 0, "phase1": 0}
    pd.update(kw)
    return pd


def step(**kw):
    pd = {"edge_shape": "sine_edge", "pos": 0, "width": 10e-9, "plateau": 0, "amp": 0.2}
    pd.update(kw)
    return pd


RECORD = {"N": 400, "srate": 2e9, "offset_global": 0.0}


def device():
    """A one-qubit device with X and a two-marker CZ on the pair."""
    pdt = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 5e9,
           "phase": 0, "phase1": 0, "vz": 0}
    cal = {"pi": {"amp": 0.5, "width": 40e-9, "plateau": 0, "phase_offs": 0.0}, "vz": 0.0}
    info = {"0": {"d": {"nm": "q0", "pdt": pdt, "cp": cal}},
            "1": {"d": {"nm": "q1", "pdt": dict(pdt), "cp": copy.deepcopy(cal)}},
            "0x1": {"c": {"nm": "c01", "pdt": dict(pdt, freq=0), "cp": {"fp": {"amp": 0.2}}},
                    "d0": {"nm": "q0", "pdt": pdt, "cp": {"vz": 0.1}}}}
    rules = {"X": rule.RULE(d=[[r.X_p(), r.I_p(plateau=10e-9)], [r.Vz_p()]]),
             "CZ": rule.RULE(c=[[r.F_p()]], d0=[[r.Vz_p()]]), "B": rule.RULE()}
    return rules, info


def wheres(findings):
    return [f.where for f in findings]


def test_finding_reads_well():
    f = check.Finding("entry #0 key 'x'", "bad")
    assert str(f) == "entry #0 key 'x': bad"
    assert repr(f) == "Finding(where=\"entry #0 key 'x'\", message='bad')"
    with pytest.raises(AttributeError):
        f.where = "elsewhere"


@pytest.mark.parametrize("pds, li, where, words", [
    ([pulse(drag_scal=0.3e-9)], None, "entry #0 key 'drag_scal'", "did you mean 'drag_scale'?"),
    ([pulse(), pulse(ampp=0.1)], None, "entry #1 key 'ampp'", "did you mean 'amp'?"),
    ([pulse(shape="cosine")], None, "entry #0 key 'shape'", "did you mean 'cos'?"),
    ([step(edge_shape="sine_edg")], None, "entry #0 key 'edge_shape'", "did you mean 'sine_edge'?"),
    ([pulse(width=40)], None, "entry #0 key 'width'", "over 1 ms"),
    ([pulse(plateau=2e-3)], None, "entry #0 key 'plateau'", "over 1 ms"),
    ([pulse(freq=100)], None, "entry #0 key 'freq'", "under 1 kHz"),
    ([pulse(freq=-5.0)], None, "entry #0 key 'freq'", "under 1 kHz"),
    ([pulse(drag_detuning=5)], None, "entry #0 key 'drag_detuning'", "5 Hz is under 1 kHz"),
    ([pulse(drag_scale=0.3)], None, "entry #0 key 'drag_scale'", "0.3 s is over 1 µs: DRAG coefficients"),
    ([pulse(drag_list=[1e-10, 2])], None, "entry #0 key 'drag_list'", "holds 2 s, over 1 µs"),
    ([pulse(pos=100)], None, "entry #0 key 'pos'", "100 s is over 1 s"),
    ([pulse(phase1=-90)], None, "entry #0 key 'phase1'", "-90 rad is over 2π: phases are in radians"),
    ([pulse(amp=1.5j)], None, "entry #0 key 'amp'", "above 1"),
    ([pulse(phase=float("nan"))], None, "entry #0 key 'phase'", "NaN"),
    ([pulse(drag_list=[1e-9, float("nan")])], None, "entry #0 key 'drag_list'", "not a number"),
    ([pulse(pos="soon")], None, "entry #0 key 'pos'", "'soon' is not a number"),
    ([pulse(shape=3)], None, "entry #0 key 'shape'", "neither a shape name nor callable"),
    ([7], None, "entry #0", "not a dict"),
    ({"q0": [pulse(), pulse(amp_scal=2)]}, None, "line 'q0' entry #1 key 'amp_scal'", "'amp_scale'"),
    ([], dict(RECORD, srate=2.0), "sampling record key 'srate'", "under 1 MHz"),
    ([], dict(RECORD, offset=0.1), "sampling record key 'offset'", "did you mean 'offset_global'?"),
    ([], {"N": 4, "srate": 2e9}, "sampling record key 'offset_global'", "is missing"),
    ([], dict(RECORD, st=float("nan")), "sampling record key 'st'", "NaN"),
    ([], 5, "sampling record", "not a dict"),
    (None, None, "pulse descriptions", "cannot be iterated"),
    (pulse(), None, "pulse descriptions", "is one dict, not a list of them"),
    # What sampling subscripts and an entry lacks, with the near key it has.
    ([{**{k: v for k, v in pulse().items() if k != "width"}, "widht": 4e-8}], None, "entry #0 key 'width'",
     "is missing, and sampling reads it; did you mean 'widht'?"),
    ([{k: v for k, v in step().items() if k != "plateau"}], None, "entry #0 key 'plateau'", "is missing"),
    ([pulse(shape="tanh")], None, "entry #0 key 'epsilon'", "is missing"),
    ([step(edge_shape="cos")], None, "entry #0 key 'edge_shape'", "'cos' is an envelope shape; a level step needs an edge"),
    ([pulse(shape="sine_edge")], None, "entry #0 key 'shape'", "'sine_edge' is the edge of a level step"),
    ([pulse(width=-4e-8)], None, "entry #0 key 'width'", "is negative"),
    ([pulse(shape="gaus")], None, "entry #0 key 'shape'", f"{', '.join(map(repr, wh.shapeTable))}); did you mean 'gauss'?"),
    ([pulse(shape="gaussian")], None, "entry #0 key 'shape'", "did you mean 'gauss'?"),
    ([pulse(shape="net_zero")], None, "entry #0 key 'shape'", "did you mean 'netzero'?"),
    ([pulse(shape="gauss", sigm=1e-8)], None, "entry #0 key 'sigm'", "did you mean 'sigma'?"),
    ([pulse(shape="gauss", sigma=0)], None, "entry #0 key 'sigma'", "0 s is not positive"),
    ([pulse(shape="gauss", sigma=-1e-9)], None, "entry #0 key 'sigma'", "-1e-09 s is not positive"),
    ([pulse(shape="gauss", sigma=5e-8)], None, "entry #0 key 'sigma'",
     "5e-08 s is greater than the width 4e-08 s"),
    ([pulse(shape="gauss", sigma=10)], None, "entry #0 key 'sigma'", "greater than the width"),
    ([], dict(RECORD, N=400.0), "sampling record key 'N'", "400.0 is not an int"),
    ([], dict(RECORD, N=-5), "sampling record key 'N'", "-5 is negative"),
    ([], dict(RECORD, N=2 * 10**11), "sampling record key 'N'", "200000000000 samples need 3.2e+03 GB"),
    ([], dict(RECORD, extra={"a": [1, 2]}), "sampling record key 'extra' stage 'a'", "is not four numbers"),
])
def test_pulse_mistakes_are_found(pds, li, where, words):
    findings = check.check_pulses(pds, li)
    assert [f for f in findings if f.where == where and words in f.message], findings


@pytest.mark.parametrize("pds, li, where, found", [
    ([], dict(RECORD, N=10**9), "sampling record key 'N'", False),
    ([], dict(RECORD, N=10**9 + 1), "sampling record key 'N'", True),
    ([pulse(pos=1.0)], None, "entry #0 key 'pos'", False),
    ([pulse(pos=-1.0)], None, "entry #0 key 'pos'", False),
    ([pulse(pos=1.0000001)], None, "entry #0 key 'pos'", True),
    ([pulse(pos=-1.0000001)], None, "entry #0 key 'pos'", True),
])
def test_thresholds_at_their_edges(pds, li, where, found):
    assert (where in wheres(check.check_pulses(pds, li))) is found


@pytest.mark.parametrize("table", ["abc", [1, 2], 5, None, {"cos": 1, 2: "x"}])
def test_a_shape_table_that_is_not_a_mapping_of_names_is_no_reason_to_raise(monkeypatch, table):
    monkeypatch.setattr(wh, "shapeTable", table)
    check.check_pulses([pulse(shape="cosine"), step()], RECORD)
    assert check.unknown_shape_note("cosine", table).startswith("'cosine' is not a name in shapeTable")


def test_sound_pulses_give_nothing_and_are_left_alone():
    pds = [pulse(drag_scale=0.3e-9, drag_list=[1e-10], vz=0.2, freq=0, amp=-1),
           step(), pulse(shape=lambda X, pd, cp: X, amp=0.1j), pulse(shape="tanh", epsilon=2),
           pulse(shape="gauss", sigma=4e-8), pulse(shape="gauss", sigma=1e-8, plateau=1e-7), pulse(shape="netzero")]
    before = copy.deepcopy([{k: v for k, v in p.items() if k != "shape"} for p in pds])
    li = dict(RECORD, N=np.int64(400), st=1e-6, extra={"a": [0.1, 0.2, 1e-8, 5e-10], "b": np.ones(4)})
    assert check.check_pulses(pds, li) == []
    assert [{k: v for k, v in p.items() if k != "shape"} for p in pds] == before


def test_an_iterator_is_reported_not_used_up():
    pds = (pd for pd in [pulse(drag_scal=1)])
    lines = {"q0": iter([pulse()])}
    assert [str(f) for f in check.check_pulses(pds) + check.check_pulses(lines)] == [
        "pulse descriptions: is a generator, which can be read once: pass a list to check it "
        "(and to sample it more than once)",
        "line 'q0': is a list_iterator, which can be read once: pass a list to check it "
        "(and to sample it more than once)"]
    assert len(list(pds)) == len(list(lines["q0"])) == 1


def test_a_mapping_that_fails_to_read_is_a_finding():
    class Broken(dict):
        def items(self):
            raise RuntimeError("no")

    (f,) = check.check_pulses([Broken()])
    assert f.where == "entry #0" and "RuntimeError: no" in f.message


@pytest.mark.parametrize("ins, edit, where, words", [
    (circuit.INSTRUCTION("Xx", 0), None, "instruction #0 Xx(0)", "no rule; did you mean 'X'?"),
    (circuit.INSTRUCTION("X", 2), None, "instruction #0 X(2)", "qubit key '2' has no qubit information"),
    (circuit.INSTRUCTION("X", 0, d__ampp=0.1), None, "instruction #0 X(0,d__ampp=0.1) keyword 'd__ampp'",
     "'ampp', which no part of halvane reads; did you mean 'amp'?"),
    (circuit.INSTRUCTION("X", 0, e__amp=0.1), None, "instruction #0 X(0,e__amp=0.1) keyword 'e__amp'",
     "'e' names no marker"),
    (circuit.INSTRUCTION("X", 0, d__2__amp=0.1), None, "instruction #0 X(0,d__2__amp=0.1) keyword 'd__2__amp'",
     "'2' names no track"),
    (circuit.INSTRUCTION("X", 0, X__1__1__amp=0.1), None,
     "instruction #0 X(0,X__1__1__amp=0.1) keyword 'X__1__1__amp'", "'1' names no pulse"),
    (circuit.INSTRUCTION("X", 0, d__0__width=40), None, "instruction #0 X(0,d__0__width=40) keyword 'd__0__width'",
     "over 1 ms"),
    (circuit.INSTRUCTION("X", 0, amp_scal=2), None, "instruction #0 X(0,amp_scal=2) keyword 'amp_scal'",
     "did you mean 'amp_scale'?"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"]["cp"]["pi"].update(ampl=0.5),
     "instruction #0 X(0) marker 'd' calibration 'pi' key 'ampl'", "did you mean 'amp'?"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"]["cp"].update(pi_=info["0"]["d"]["cp"].pop("pi")),
     "instruction #0 X(0) marker 'd' calibration 'pi'", "is missing, and X_p reads it; did you mean 'pi_'?"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"]["cp"]["pi"].pop("phase_offs"),
     "instruction #0 X(0) marker 'd' calibration 'pi'", "has no 'phase_offs'"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"]["cp"]["pi"].update(width=40),
     "instruction #0 X(0) marker 'd' calibration 'pi' key 'width'", "over 1 ms"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"]["pdt"].update(freq=5),
     "instruction #0 X(0) marker 'd' template key 'freq'", "under 1 kHz"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"].update(dd=info["0"].pop("d")), "instruction #0 X(0) marker 'd'", "missing from the qubit information (it has 'dd')"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"].update(cpp=info["0"]["d"].pop("cp")),
     "instruction #0 X(0) marker 'd'", "has no 'cp'; did you mean 'cpp'?"),
    (circuit.INSTRUCTION("X", 0), lambda info: info["0"]["d"].update(cpp=info["0"]["d"].pop("cp")),
     "instruction #0 X(0) marker 'd' key 'cpp'", "no part of halvane reads this key; did you mean 'cp'?"),
    (circuit.INSTRUCTION("CZ", 0, 1), lambda info: info["0x1"]["d0"]["cp"].update(vz_=info["0x1"]["d0"]["cp"].pop("vz")),
     "instruction #0 CZ(0,1) marker 'd0' calibration 'vz'", "did you mean 'vz_'?"),
    (circuit.INSTRUCTION("CZ", 0, 1), lambda info: info["0x1"]["c"]["cp"]["fp"].update(amp=float("nan")),
     "instruction #0 CZ(0,1) marker 'c' calibration 'fp' key 'amp'", "NaN"),
])
def test_circuit_mistakes_are_found(ins, edit, where, words):
    rules, info = device()
    if edit:
        edit(info)
    findings = check.check_circuit(circuit.Circuit([ins]), rules, info)
    assert [f for f in findings if f.where == where and words in f.message], findings


@pytest.mark.parametrize("tracks, where, words", [
    (r.X_p(), "marker 'd'", "X_p() is not a list of tracks, each a list of recipes; write d=[[X_p()]]"),
    ([r.X_p()], "marker 'd' track #0", "X_p() is a recipe, not a track (a list of recipes); write d=[[X_p()]]"),
    ([[r.I_p(), r.X_p]], "marker 'd' track #0 pulse #1", "X_p is a class; write X_p()"),
    ([r.X_p], "marker 'd' track #0", "X_p() is a recipe, not a track (a list of recipes); write d=[[X_p()]]"),
    ([[r.I_p(), "X"]], "marker 'd' track #0 pulse #1", "'X' is not a recipe (it has no get_pd)"),
])
def test_misshapen_rule_tracks_are_found(tracks, where, words):
    rules, info = device()
    rules["X"] = rule.RULE(d=tracks)
    findings = check.check_circuit(circuit.Circuit([circuit.INSTRUCTION("X", 0)] * 2), rules, info)
    assert [str(f) for f in findings] == [f"instruction #0 X(0) {where}: {words}"]


def test_qubit_information_under_int_keys_is_found():
    rules, info = device()
    findings = check.check_circuit(circuit.Circuit([circuit.INSTRUCTION("X", 0)]), rules, {0: info["0"]})
    assert [str(f) for f in findings] == ["instruction #0 X(0): qubit key '0' has no qubit information (keys: 0); "
                                          "the keys are strs such as '0' and '0x1'"]


def test_what_is_not_an_instruction_is_found():
    rules, info = device()
    gate: dict = {}
    circuit.instructification(["X"], gate)
    findings = check.check_circuit(circuit.Circuit([gate["X"], "X(0)", gate["X"](0)]), rules, info)
    assert [str(f) for f in findings] == [
        "instruction #0 X: is the gate constructor X, not an instruction: call it with its qubits, X(0)",
        "instruction #1 X(0): is a str, not an instruction"]


def test_barriers_alone_are_found():
    rules, info = device()
    findings = check.check_circuit(circuit.Circuit([circuit.INSTRUCTION("B")] * 2), rules, info)
    assert [str(f) for f in findings] == [
        "circuit: no instruction names a qubit, so a barrier has none to span and scheduling fails"]
    assert check.check_circuit(circuit.Circuit([circuit.INSTRUCTION("B"), circuit.INSTRUCTION("X", 0)]),
                               rules, info) == []


def test_recipe_keywords_and_rule_selection():
    rules, info = device()
    rules["X"] = rule.RULE(d=[[r.X_p(widht=1e-8)]])
    rules["Y"] = rule.RULE_COMP([[1, rules["CZ"]]])
    found = check.check_circuit([circuit.INSTRUCTION("X", 0), circuit.INSTRUCTION("Y", 0)], rules, info)
    assert [str(f) for f in found] == [
        "instruction #0 X(0) marker 'd' recipe X_p keywords key 'widht': "
        "no part of halvane reads this key; did you mean 'width'?",
        "instruction #1 Y(0): the rule of 'Y' has nothing for qubit key '0'",
    ]


@pytest.mark.parametrize("option, found", [
    ("align", "'center' is a str, not a list of tracks, each a list of recipes; "
              "options begin with '_': write _align='center'"),
    ("d1", "'center' is a str, not a list of tracks, each a list of recipes"),
])
def test_an_option_without_its_underscore_is_one_finding(option, found):
    rules, info = device()
    rules["X"] = rule.RULE(d=[[r.X_p()]], **{option: "center"})
    assert [str(f) for f in check.check_circuit([circuit.INSTRUCTION("X", 0)], rules, info)] == [
        f"instruction #0 X(0) marker '{option}': {found}"]


def test_a_pin_time_is_a_keyword_that_is_read():
    rules, info = device()
    rules["PIN"] = rule.RULE()
    circ = circuit.Circuit([circuit.INSTRUCTION("X", 0), circuit.INSTRUCTION("PIN", tm=1e-6),
                            circuit.INSTRUCTION("B", tm=1e-6)])
    assert [str(f) for f in check.check_circuit(circ, rules, info)] == [
        "instruction #2 B(tm=1e-06) keyword 'tm': routes to the key 'tm', which no part of halvane reads"]


def test_a_scheduled_circuit_is_reported():
    rules, info = device()
    circ = circuit.Circuit([circuit.INSTRUCTION("X", 0)])
    assert check.check_circuit(circ, rules, info) == []
    circuit.ASAP(circuit.semi_apply(circ, rules, info))
    assert wheres(check.check_circuit(circ, rules, info)) == ["circuit"]


@pytest.mark.parametrize("circ, rules, info", [
    (None, {}, {}), (circuit.Circuit([1, "x", None]), {}, {}), ([], 3, {}), ([], {}, [1]),
    ([circuit.INSTRUCTION([], 0)], {}, {}), ([circuit.INSTRUCTION("X", [])], device()[0], device()[1]),
])
def test_odd_input_is_reported_not_raised(circ, rules, info):
    assert all(isinstance(f, check.Finding) for f in check.check_circuit(circ, rules, info))


def test_quickstart_device_and_circuit_give_nothing(monkeypatch, tmp_path, capsys):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # no figure to draw
    g = runpy.run_path(str(QUICKSTART))
    fresh = circuit.Circuit([circuit.INSTRUCTION(i.nm, *i.qubits, **i.kwds) for i in g["circ"].ins])
    assert check.check_circuit(fresh, g["rules"], g["qubits_info"]) == []
    assert check.check_pulses(g["pdc"], g["record"]) == []


def test_docstring_examples_hold():
    import doctest

    result = doctest.testmod(check)
    assert result.attempted >= 3 and result.failed == 0
