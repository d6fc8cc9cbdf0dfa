"""Rule application, ASAP/ALAP scheduling and collection per line."""

import copy
import itertools
import os
import pickle
import re
import subprocess
import sys
import types

import numpy as np
import pytest

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent_enumeration as we

# Integer durations keep every time exact: X and Y last 20, CZ 40, M 100.
T = {"amp": 0, "width": 0, "plateau": 0, "phase": 0, "vz": 0, "pos": 0}
CP = {"pi": {"amp": 0.5, "width": 20, "plateau": 0, "phase_offs": 0}, "M01": {"amp": 0.1, "plateau": 100}}
CZ_RULE = hr.RULE(a=[[we.I_p(plateau=40)]], b=[[we.I_p(plateau=40)]])
RULES = {
    "X": hr.RULE(d=[[we.X_p()]]),
    "Y": hr.RULE(d=[[we.Y_p()]]),
    "CZ": hr.RULE_COMP([[[(0, 1), (1, 2)], CZ_RULE]]),
    "M": hr.RULE(m=[[we.M_p()]]),
    "B": hr.RULE(),
    "PIN": hr.RULE(),
}


def line(name):
    return {"nm": name, "pdt": T, "cp": CP}


INFO = {str(q): {"d": line(f"q{q}_xy"), "m": line(f"q{q}_m")} for q in range(3)}
INFO.update({f"{q}x{q + 1}": {"a": line(f"q{q}_z"), "b": line(f"q{q + 1}_z")} for q in range(2)})

X, Y, CZ, M, B, PIN = (lambda *q, n=n, **kw: hc.INSTRUCTION(n, *q, **kw) for n in ("X", "Y", "CZ", "M", "B", "PIN"))


def applied(*ins):
    return hc.semi_apply(hc.Circuit(list(ins)), RULES, INFO)


def positions(circ):
    return [i.pos for i in circ.ins]


def test_semi_apply_sets_durations_line_tracks_and_circuit_attributes():
    c = applied(X(0), CZ(0, 1, a__amp=0.3), M(1), M(0))
    assert [i.dur for i in c.ins] == [20, 40, 100, 100]
    x, cz, m1, m0 = c.ins
    assert list(cz.lts) == ["q0_z", "q1_z"]
    assert cz.lts["q0_z"][0][0]["amp"] == 0.3 and cz.lts["q1_z"][0][0]["amp"] == 0
    assert x.lts == {"q0_xy": [[dict(T, **CP["pi"], phase=0, pos=0)]]}
    assert c.MGates == [m1, m0] and c.all_qubits == {0, 1}
    assert not hasattr(c, "pin_pos")
    assert applied(X(0)).MGates == []


def test_barriers_and_pins():
    bar, named_bar, pin = B(), B(0, 1), PIN(tm=2e-6)
    c = applied(X(0), bar, named_bar, pin, Y(2))
    assert set(bar.qubits) == {0, 1, 2} and bar.qubits == tuple(c.all_qubits) == pin.qubits
    assert named_bar.qubits == (0, 1)
    assert c.pin_pos == 2e-6 and c.pin_gate is pin and pin.dur == 0 and pin.lts == {}
    later = PIN(1, tm=5)
    c = applied(pin, later)
    assert c.pin_gate is later and c.pin_pos == 5 and later.qubits == (1,)


def test_semi_apply_simple():
    bar, pin = B(), PIN(0, tm=1)
    inss = [X(1), bar, pin, M(0)]
    assert hc.semi_apply_simple(inss, RULES, INFO) is inss
    assert [i.dur for i in inss] == [20, 0, 0, 100] and bar.qubits == ()
    with pytest.raises(KeyError, match="''"):
        hc.semi_apply_simple([PIN(tm=1)], RULES, INFO)


def test_failures_are_not_rolled_back():
    c = hc.Circuit([X(0), hc.INSTRUCTION("Z", 0)])
    with pytest.raises(KeyError, match="Z"):
        hc.semi_apply(c, RULES, INFO)
    assert c.ins[0].dur == 20 and not hasattr(c, "MGates")


@pytest.mark.parametrize(
    "ins, rules, error, match",
    [
        (X(5), RULES, KeyError, "'5'"),
        (CZ(0, 2), RULES, AssertionError, "^The rule is None$"),
        (PIN(), RULES, KeyError, "tm"),
        (X(0), dict(RULES, X=types.SimpleNamespace()), Exception, "^get-rule The instance"),
        (X(0), dict(RULES, X=types.SimpleNamespace(__maj_type__="RULE", semi_apply=lambda i: (1, {}, 2))),
         ValueError, "too many values to unpack"),
    ],
)
def test_bad_input(ins, rules, error, match):
    with pytest.raises(error) as info:
        hc.semi_apply(hc.Circuit([ins]), rules, INFO)
    assert re.search(match, str(info.value))  # the message, without the notes


def test_keywords_must_be_a_mapping():
    ins = X(0)
    ins.kwds = None
    with pytest.raises(TypeError, match=r"semi_apply\(\) argument after \*\* must be a mapping, not NoneType"):
        hc.semi_apply(hc.Circuit([ins]), RULES, INFO)


class Doubled(hr.RULE):
    def semi_apply(self, its_qubit_info, **kw):
        d, lts = super().semi_apply(its_qubit_info, **kw)
        return 2 * d, lts


def test_rules_selectors_and_tables_as_python_objects(read_only_mapping):
    Table = read_only_mapping
    class Selector:
        __maj_type__ = "RULE_COMP"
        complex_dict = {"0": Doubled(d=[[we.X_p()]])}
        default_rule = None

    c = hc.semi_apply(hc.Circuit([X(0, d__0__0__amp=0.7)]), Table(dict(RULES, X=Selector())), Table(INFO))
    assert c.ins[0].dur == 40 and c.ins[0].lts["q0_xy"][0][0]["amp"] == 0.7


def test_semi_apply_is_looked_up_on_each_rule_at_call_time(monkeypatch):
    # Application calls RULE's own semi_apply directly only while a lookup finds it.
    calls = []
    rule = hr.RULE(d=[[we.X_p()]])
    rule.semi_apply = lambda info, **kw: calls.append(("instance", kw)) or (5, {})
    c = hc.semi_apply(hc.Circuit([X(0, amp=0.5)]), dict(RULES, X=rule), INFO)
    assert c.ins[0].dur == 5 and calls == [("instance", {"amp": 0.5})]
    original = hr.RULE.semi_apply
    monkeypatch.setattr(hr.RULE, "semi_apply", lambda self, info, **kw: calls.append(("class", kw)) or
                        original(self, info, **kw))
    assert applied(X(0)).ins[0].dur == 20 and calls[-1] == ("class", {})
    monkeypatch.undo()
    with pytest.raises(TypeError, match="incompatible function arguments"):
        applied(X(0, its_qubit_info=1))


def test_rule_module_is_looked_up_at_call_time(monkeypatch):
    asked = []

    def get_rule(A, qubits):
        asked.append(qubits)
        return hr.get_rule(A, qubits)

    monkeypatch.setattr(hc, "rule", types.SimpleNamespace(get_rule=get_rule, move_track=hr.move_track))
    applied(X(0), CZ(0, 1))
    assert asked == ["0", "0x1"]


def test_asap_and_alap():
    c = applied(X(0), CZ(0, 1), Y(1))
    assert hc._ASAP(c) == 80 and positions(c) == [0, 20, 60]
    assert hc._ALAP(c) == -80 and positions(c) == [-80, -60, -20]
    assert all(type(p) is np.int64 for p in positions(c))


def test_disjoint_qubits_start_and_end_together():
    c = applied(X(0), Y(1), CZ(1, 2))
    assert hc._ASAP(c) == 60 and positions(c) == [0, 0, 20]
    c = applied(X(0), Y(1), Y(2))
    assert hc._ALAP(c) == -20 and positions(c) == [-20, -20, -20]


def test_a_widened_barrier_holds_later_instructions_back():
    c = applied(X(0), B(), Y(1))
    hc.ASAP(c)
    assert positions(c) == [0, 20, 20]
    c = applied(X(0), Y(1))
    hc.ASAP(c)
    assert positions(c) == [0, 0]


@pytest.mark.parametrize(
    "schedule, kw, expected",
    [
        (hc.ASAP, {}, [0, 20, 60]),
        (hc.ASAP, {"st_pos": 5}, [5, 25, 65]),
        (hc.ASAP, {"ed_pos": 1000}, [920, 940, 980]),
        (hc.ASAP, {"st_pos": 5, "ed_pos": 1000}, [5, 25, 65]),
        (hc.ALAP, {}, [-80, -60, -20]),
        (hc.ALAP, {"st_pos": 0}, [0, 20, 60]),
        (hc.ALAP, {"ed_pos": 100}, [20, 40, 80]),
    ],
)
def test_shifts_and_absolute_pulse_times(schedule, kw, expected):
    c = applied(X(0), CZ(0, 1), Y(1))
    assert schedule(c, **kw) is c
    assert positions(c) == expected
    x, cz, y = c.ins
    assert x.lts["q0_xy"][0][0]["pos"] == expected[0]
    assert cz.lts["q0_z"][0][0]["pos"] == cz.lts["q1_z"][0][0]["pos"] == expected[1]
    assert y.lts["q1_xy"][0][0]["pos"] == expected[2]


def test_pins_move_asap_only():
    c = applied(X(0), PIN(tm=1000), Y(1))
    hc.ASAP(c)
    assert positions(c) == [980, 1000, 1000] and c.ins[2].lts["q1_xy"][0][0]["pos"] == 1000
    c = applied(X(0), PIN(tm=1000), Y(1))
    hc.ALAP(c)
    assert positions(c) == [-40, -20, -20]
    c = applied(X(0), PIN(tm=1000), Y(1))
    hc.ASAP(c, st_pos=0)
    assert positions(c) == [0, 20, 20]


def pulse_positions(circ):
    return [p["pos"] for pds in hc.collect_pdc(circ).values() for p in pds]


@pytest.mark.parametrize("again", [
    lambda c: hc.ASAP(c, st_pos=10),
    lambda c: hc.ALAP(c, st_pos=10),
    lambda c: hc.flush_gate_pos_to_pds(c),
    lambda c: (hc.ALAP(c, ed_pos=3), hc.ASAP(c, st_pos=10)),
])
def test_scheduling_again_places_the_pulses_as_scheduling_once(again):
    c = applied(X(0), CZ(0, 1), Y(0), Y(1))
    hc.ASAP(c, st_pos=10)
    once, keys = pulse_positions(c), [list(p) for pds in hc.collect_pdc(c).values() for p in pds]
    assert once == [10, 70, 30, 30, 70]
    again(c)
    assert positions(c) == [10, 30, 70, 70] and pulse_positions(c) == once
    assert [list(p) for pds in hc.collect_pdc(c).values() for p in pds] == keys


def test_scheduling_again_after_a_move_failed_part_way():
    c = applied(X(0), CZ(0, 1), Y(0), Y(1))
    hc._ASAP(c)
    c.ins[2].pos, pos = "late", c.ins[2].pos
    with pytest.raises(TypeError):
        hc.flush_gate_pos_to_pds(c)  # moves the pulses of X and CZ, then fails on Y(0)
    c.ins[2].pos = pos
    hc.flush_gate_pos_to_pds(c)
    fresh = applied(X(0), CZ(0, 1), Y(0), Y(1))
    hc.ASAP(fresh)
    assert pulse_positions(c) == pulse_positions(fresh)


def test_a_circuit_keeps_its_offsets_when_its_instructions_were_scheduled_elsewhere():
    c = applied(X(0), CZ(0, 1), Y(0), Y(1))
    hc.ASAP(c, st_pos=10)
    once = pulse_positions(c)
    hc.ASAP(hc.Circuit(list(c.ins)), st_pos=50)
    hc.ASAP(c, st_pos=10)
    assert pulse_positions(c) == once


def test_scheduling_in_seconds_twice_gives_the_same_floats():
    cp = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 1e-9 / 3, "phase_offs": 0}}
    info = {"0": {"d": {"nm": "L", "pdt": T, "cp": cp}}}
    rules = dict(RULES, X=hr.RULE(d=[[we.X_p(), we.X_p()]]))
    c = hc.semi_apply(hc.Circuit([X(0), X(0), X(0)]), rules, info)
    hc.ASAP(c, ed_pos=1e-6)
    once = pulse_positions(c)
    hc.ALAP(c, st_pos=0)
    hc.ASAP(c, ed_pos=1e-6)
    assert pulse_positions(c) == once


def test_a_copied_circuit_schedules_again_as_once():
    c = applied(X(0), CZ(0, 1), Y(0), Y(1))
    hc.ASAP(c, st_pos=10)
    for clone in (copy.deepcopy(c), pickle.loads(pickle.dumps(c))):
        hc.ALAP(clone, st_pos=10)
        assert pulse_positions(clone) == pulse_positions(c)


def test_a_new_rule_application_is_scheduled_from_its_own_offsets():
    c = applied(X(0), Y(0))
    hc.ASAP(c, st_pos=10)
    hc.semi_apply(c, RULES, INFO)
    hc.ASAP(c, st_pos=100)
    assert pulse_positions(c) == [100, 120]


def test_times_in_seconds_become_numpy_floats():
    cp = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 0, "phase_offs": 0}}
    info = {"0": {"d": {"nm": "L", "pdt": T, "cp": cp}}}
    c = hc.semi_apply(hc.Circuit([X(0), X(0), X(0)]), RULES, info)
    hc.ASAP(c, ed_pos=1e-6)
    assert positions(c) == pytest.approx([940e-9, 960e-9, 980e-9], abs=1e-20)
    pds = hc.collect_pdc(c)["L"]
    assert [p["pos"] for p in pds] == positions(c)
    assert all(type(p["pos"]) is np.float64 for p in pds)


def test_numpy_is_looked_up_at_call_time(monkeypatch):
    monkeypatch.setattr(hc, "np", types.SimpleNamespace(max=max, min=min))
    c = applied(X(0), CZ(0, 1), Y(1))
    hc.ASAP(c)
    assert positions(c) == [0, 20, 60] and all(type(p) is int for p in positions(c))


def test_scheduling_steps_are_looked_up_at_call_time(monkeypatch):
    steps = []
    monkeypatch.setattr(hc, "_ASAP", lambda c: steps.append("asap") or 7)
    monkeypatch.setattr(hc, "shift_circ", lambda c, t: steps.append(("shift", t)))
    monkeypatch.setattr(hc, "flush_gate_pos_to_pds", lambda c: steps.append("flush"))
    hc.ASAP(applied(X(0)), ed_pos=10)
    assert steps == ["asap", ("shift", 3), "flush"]


@pytest.mark.parametrize("where", [0, 1, 2])
def test_an_instruction_without_qubits_starts_or_ends_at_zero(where):
    c = applied(X(0), Y(1))
    nothing = hc.INSTRUCTION("B")
    nothing.dur = 5
    c.ins.insert(where, nothing)
    assert hc._ASAP(c) == 20 and nothing.pos == 0
    assert hc._ALAP(c) == -20 and nothing.pos == -5
    assert [i.pos for i in c.ins if i is not nothing] == [-20, -20]


@pytest.mark.parametrize("run", [hc._ASAP, hc._ALAP, hc.ASAP, hc.forwared_dag_circuit,
                                 lambda c: hc.semi_apply(c, {"X": hr.RULE()}, INFO)])
def test_endless_qubits_stop_at_a_signal(interrupt, run):
    ins = X(0)
    ins.qubits, ins.dur = itertools.repeat(0), 1
    interrupt(0.05)
    with pytest.raises(TimeoutError, match="interrupted"):
        run(hc.Circuit([ins]))


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer reserves address space")
def test_running_out_of_memory_is_a_memory_error_of_this_package():
    # Endless qubits under a cap on the address space: the times gathered for
    # the reduction outgrow it.
    code = """if True:
        import itertools, resource
        from halvane import circuit as hc
        ins = hc.INSTRUCTION("X")
        ins.qubits, ins.dur = itertools.repeat(0), 1
        with open("/proc/self/statm") as f:
            size = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + 2**28, resource.getrlimit(resource.RLIMIT_AS)[1]))
        try:
            hc._ASAP(hc.Circuit([ins]))
        except MemoryError as e:
            print(e)
    """
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.stdout == "halvane ran out of memory\n", out.stderr


def test_scheduling_failures():
    with pytest.raises(AttributeError):
        hc.ASAP(hc.Circuit([X(0)]))
    assert hc._ASAP(hc.Circuit([])) == 0 == hc._ALAP(hc.Circuit([]))
    empty = hc.Circuit([])
    assert hc.ASAP(empty) is empty and hc.ALAP(empty) is empty


def test_collect_pdc_orders_by_program_then_track():
    two_tracks = hr.RULE(d=[[we.X_p(), we.I_p(plateau=5)], [we.Y_p()]], m=[])
    c = hc.semi_apply(hc.Circuit([Y(1), X(0), X(0)]), dict(RULES, X=two_tracks), INFO)
    hc.ALAP(c)
    R = hc.collect_pdc(c)
    assert list(R) == ["q1_xy", "q0_xy", "q0_m"] and R["q0_m"] == []
    y, x1, x2 = c.ins
    assert R["q1_xy"] == [y.lts["q1_xy"][0][0]]
    q0 = R["q0_xy"]
    assert [(p["phase"], p["pos"]) for p in q0] == [
        (0, -50), (0, -30), (np.pi / 2, -50), (0, -25), (0, -5), (np.pi / 2, -25)]
    assert all(a is b for a, b in zip(q0, x1.lts["q0_xy"][0] + x1.lts["q0_xy"][1] + x2.lts["q0_xy"][0]))
    again = hc.collect_pdc(c)
    assert again is not R and all(a is b for a, b in zip(again["q0_xy"], q0))
    assert hc.collect_pdc(applied(B())) == {}


def test_templates_and_calibration_are_never_modified():
    before = copy.deepcopy((T, CP, INFO))
    c = applied(X(0, amp=1), CZ(0, 1), B(), PIN(tm=3), M(1))
    hc.ASAP(c)
    hc.collect_pdc(c)
    assert (T, CP, INFO) == before


def test_what_a_user_drops_after_a_compile_is_freed():
    # Rules and recipes are weakly referenced; the plain dicts of the qubit
    # information cannot be, so their reference counts must return to what
    # they were once the circuit is gone.
    import gc
    import weakref
    freed = []
    cz = hr.RULE(a=[[we.I_p(plateau=40)]], b=[[we.I_p(plateau=40)]])
    rules = {n: hr.RULE(d=[[we.X_p()]]) for n in ("X", "Y")}
    rules["CZ"] = hr.RULE_COMP([[[(0, 1)], cz]])
    cals = [copy.deepcopy(CP) for _ in range(3)]
    info = {str(q): {"d": {"nm": f"q{q}_xy", "pdt": dict(T), "cp": cals[q]}} for q in range(3)}
    info["0x1"] = {"a": {"nm": "q0_z", "pdt": dict(T), "cp": cals[0]}, "b": {"nm": "q1_z", "pdt": dict(T), "cp": cals[1]}}
    dicts = [*cals, *(c["pi"] for c in cals), info, *info.values(), *(ln for v in info.values() for ln in v.values()),
             *(ln["pdt"] for v in info.values() for ln in v.values())]
    counts = [sys.getrefcount(d) for d in dicts]
    watched = [*rules.values(), cz, rules["X"].line_tracks["d"][0][0]]
    refs = [weakref.ref(o, lambda _, k=k: freed.append(k)) for k, o in enumerate(watched)]
    for _ in range(3):  # the same rules on the same information, again and again
        circ = hc.Circuit([X(0), Y(1), CZ(0, 1), X(2)])
        hc.semi_apply(circ, rules, info)
        hc.ASAP(circ)
        pdc = hc.collect_pdc(circ)
    del circ
    gc.collect()
    assert [sys.getrefcount(d) for d in dicts] == counts
    del rules, cz, watched
    gc.collect()
    assert sorted(freed) == list(range(len(refs)))
    assert pdc["q0_xy"][0]["amp"] == 0.5  # what the compile gave stays
