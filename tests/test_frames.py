"""circuit.fold_vz: virtual Z folded into the pulses that follow it."""

import copy
import gc
import math
import numbers

import numpy as np
import pytest

from halvane import check, circuit, io, rule, waveintent_enumeration as r, wavespec_handling as wh
from reference import propagate, rotation, rz

SRATE = 2e9
XY = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 100e6,
      "phase": 0, "phase1": 0, "drag_scale": 0, "vz": 0}
RULES = {"X2": rule.RULE(d=[[r.X2_p()]]), "Y2": rule.RULE(d=[[r.Y2_p()]]), "VZ": rule.RULE(d=[[r.Vz_p()]])}
GATE: dict = {}
circuit.instructification(list(RULES), GATE)


def pulse(at, **keys):
    """A pulse of 40 ns at `at`, with `keys` changed."""
    return {**XY, "pos": at, "width": 40e-9, "plateau": 0, "amp": 0.5, **keys}


def compile_circuit(names, cp):
    """The scheduled one-qubit circuit of gates `names`, on the line q0."""
    circ = circuit.Circuit([GATE[name](0) for name in names])
    circuit.semi_apply(circ, RULES, {"0": {"d": {"nm": "q0", "pdt": XY, "cp": cp}}})
    return circuit.ASAP(circ)


def compile_lines(names, cp):
    """The collected lines of the one-qubit circuit of gates `names`."""
    return circuit.collect_pdc(compile_circuit(names, cp))


def populations(lines):
    """P0 and P1 of the qubit, from |0>, after the sampled envelope of line q0;
    the drive strength makes one π/2 pulse turn by exactly π/2."""
    record = {"N": 200, "srate": SRATE, "offset_global": 0.0}
    _, _, S = wh.pdc2pulse(lines["q0"], record)
    _, _, single = wh.pdc2pulse([dict(lines["q0"][0], phase1=0, pos=0)], record)
    rabi = (np.pi / 2) / (np.abs(single).sum() / SRATE)
    return np.abs(propagate(S, 1 / SRATE, rabi)[:, 0]) ** 2


def exact(*operators):
    """Populations from |0> after the operators, the first applied first."""
    U = np.eye(2)
    for op in operators:
        U = op @ U
    return np.abs(U[:, 0]) ** 2


PI2 = {"amp": 0.5, "width": 40e-9, "plateau": 0, "phase_offs": 0.0}
THETAS = np.linspace(-np.pi, np.pi, 13)


@pytest.mark.parametrize("theta", THETAS)
def test_a_virtual_z_of_minus_theta_between_pulses_is_rz_theta(theta):
    lines = compile_lines(["X2", "VZ", "Y2"], {"pi2": PI2, "vz": -theta})
    want = exact(rotation(0, np.pi / 2), rz(theta), rotation(np.pi / 2, np.pi / 2))
    np.testing.assert_allclose(populations(circuit.fold_vz(lines)[0]), want, rtol=0, atol=1e-9)


def test_without_the_fold_the_virtual_z_does_nothing():
    # The test above can fail: unfolded, the compile ignores vz.
    theta = np.pi / 3
    lines = compile_lines(["X2", "VZ", "Y2"], {"pi2": PI2, "vz": -theta})
    want = exact(rotation(0, np.pi / 2), rz(theta), rotation(np.pi / 2, np.pi / 2))
    assert np.abs(populations(lines) - want).max() > 0.1


@pytest.mark.parametrize("offset", [-2.0, 0.4, 1.3])
def test_a_rotations_phase_offs_turns_the_frame_after_its_pulse(offset):
    lines = compile_lines(["X2", "Y2"], {"pi2": dict(PI2, phase_offs=offset)})
    # Both pulses carry the offset; the second's takes effect after the line ends.
    want = exact(rotation(0, np.pi / 2), rz(-offset), rotation(np.pi / 2, np.pi / 2))
    np.testing.assert_allclose(populations(circuit.fold_vz(lines)[0]), want, rtol=0, atol=1e-9)


# ---- what is turned, and when ----------------------------------------------------------


def test_phases_events_and_the_wrap_of_the_running_phase():
    lines = {"a": [pulse(0, vz=3.0), pulse(40e-9, vz=3.0), pulse(80e-9)],
             "b": [pulse(0, width=0, amp=0, vz=0.5), pulse(10e-9)]}
    folded, events = circuit.fold_vz(lines)
    wrapped = math.remainder(6.0, 2 * math.pi)
    assert events == [(0.0, "b", 0.5, 0.5), (40e-9, "a", 3.0, 3.0), (80e-9, "a", 3.0, wrapped)]
    assert [pd.get("frame_phase") for pd in folded["a"]] == [None, 3.0, wrapped]
    assert [pd["phase1"] for pd in folded["a"]] == [0, 3.0, wrapped]
    assert [pd.get("frame_phase") for pd in folded["b"]] == [None, 0.5]


def test_parallel_tracks_turn_only_after_the_increment_took_effect():
    long_pulse = pulse(0, width=20e-9, plateau=80e-9, vz=0.3)   # ends at 100 ns
    lines = {"q": [long_pulse,
                   pulse(50e-9),              # on another track, starts before 100 ns
                   pulse(100e-9),
                   pulse(100e-9 - 0.5e-12),   # within 1 ps
                   pulse(100e-9 - 2e-12)]}    # earlier than that
    folded, _ = circuit.fold_vz(lines)
    assert [pd.get("frame_phase") for pd in folded["q"]] == [None, None, 0.3, 0.3, None]


def test_zero_length_increments_at_one_instant_count_in_order():
    vz = [pulse(40e-9, width=0, amp=0, vz=v) for v in (0.1, 0.2)]
    folded, events = circuit.fold_vz({"q": [*vz, pulse(40e-9)]})
    # Each sees the frame before its own increment; the pulse sees both.
    assert [pd.get("frame_phase") for pd in folded["q"]] == [None, 0.1, 0.1 + 0.2]
    assert [row[3] for row in events] == [0.1, 0.1 + 0.2]


@pytest.mark.parametrize("s", [1, -1, 1.0, np.int64(-1)])
def test_a_follow_line_turns_with_its_frame_by_its_sign(s):
    lines = {"q1_xy": [pulse(0, width=0, amp=0, vz=0.7), pulse(0)],
             "cr_01": [pulse(10e-9, vz=0.2), pulse(60e-9)],
             "q0_xy": [pulse(60e-9)]}
    folded, events = circuit.fold_vz(lines, follow={"cr_01": "q1_xy"}, sign={"cr_01": s})
    assert [pd.get("frame_phase") for pd in folded["q1_xy"]] == [None, 0.7]
    # The cross-resonance pulse's own vz turns the frame of qubit 1.
    assert [pd.get("frame_phase") for pd in folded["cr_01"]] == [s * 0.7, s * (0.7 + 0.2)]
    assert folded["q0_xy"] == lines["q0_xy"]
    assert [row[1:] for row in events] == [("q1_xy", 0.7, 0.7), ("cr_01", 0.2, 0.7 + 0.2)]


def test_increments_at_one_instant_on_several_frames_come_in_the_order_of_the_lines():
    # The frame of a and c is complete only after c, the last line; b's before.
    lines = {"a": [pulse(0, vz=0.1)], "b": [pulse(0, vz=0.2)], "c": [pulse(0, vz=0.3), pulse(40e-9)],
             "d": [pulse(0, vz=0.4), pulse(0, width=math.nan, vz=0.5)]}
    folded, events = circuit.fold_vz(lines, follow={"c": "a"})
    assert [row[1:] for row in events] == [("a", 0.1, 0.1), ("b", 0.2, 0.2), ("c", 0.3, 0.1 + 0.3),
                                          ("d", 0.4, 0.4), ("d", 0.5, 0.4 + 0.5)]
    assert folded["c"][1]["frame_phase"] == 0.1 + 0.3


def test_chains_of_follow_share_the_last_frame():
    lines = {"a": [pulse(0, width=0, amp=0, vz=0.5)], "b": [pulse(0)], "c": [pulse(0)]}
    folded, _ = circuit.fold_vz(lines, follow={"c": "b", "b": "a"})
    assert folded["b"][0]["frame_phase"] == folded["c"][0]["frame_phase"] == 0.5


def test_flux_pulses_and_level_steps_are_never_turned():
    step = {"edge_shape": "sine_edge", "pos": 50e-9, "width": 10e-9, "plateau": 0, "amp": 0.2}
    flux = dict(pulse(50e-9), freq=0)
    no_carrier = {k: v for k, v in pulse(50e-9).items() if k != "freq"}
    lines = {"q": [pulse(0, vz=1.0), step, flux, no_carrier, pulse(50e-9)]}
    folded, _ = circuit.fold_vz(lines)
    assert folded["q"][1:4] == lines["q"][1:4]
    assert folded["q"][4]["frame_phase"] == 1.0


@pytest.mark.parametrize("enabled", [True, False])
def test_the_collector_is_paused_in_the_fold_and_left_as_it_was(enabled):
    seen = []

    class Position:
        def __float__(self):
            seen.append(gc.isenabled())
            return 0.0

    numbers.Real.register(Position)
    was = gc.isenabled()
    try:
        (gc.enable if enabled else gc.disable)()
        circuit.fold_vz({"q": [pulse(Position(), vz=0.1), pulse(40e-9)]})
        assert seen == [False] and gc.isenabled() is enabled
        with pytest.raises(TypeError, match="'pos' must be a real number"):
            circuit.fold_vz({"q": [pulse("0")]})
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


@pytest.mark.sanitize
def test_a_description_changed_by_a_number_read_before_it_is_read_as_changed():
    later = pulse(120e-9, vz=float("0.25"))

    class Start:
        def __float__(self):
            later["vz"] = 0.75  # the float it held goes
            return 0.0

    numbers.Real.register(Start)
    lines = {"q": [pulse(Start()), pulse(40e-9), pulse(80e-9), later, pulse(200e-9)]}
    folded, events = circuit.fold_vz(lines)
    assert events == [(160e-9, "q", 0.75, 0.75)]
    assert folded["q"][4]["frame_phase"] == 0.75


@pytest.mark.sanitize
def test_a_description_changed_by_a_turn_of_an_earlier_line_is_read_as_changed():
    shared = pulse(120e-9, vz=float("0.25"))

    class Phase:
        def __add__(self, other):
            shared["vz"] = 0.75  # the float it held goes
            return float(other)

    lines = {"a": [pulse(0, vz=0.5), pulse(40e-9, phase1=Phase()), pulse(60e-9), pulse(80e-9), shared],
             "b": [shared, pulse(200e-9)]}
    _, events = circuit.fold_vz(lines)
    assert [row[1:3] for row in events] == [("a", 0.5), ("a", 0.25), ("b", 0.75)]


def test_the_input_is_read_only_and_the_output_new():
    lines = {"q": [pulse(0, vz=0.3), pulse(40e-9)], "r": [pulse(0)]}
    before = copy.deepcopy(lines)
    folded, _ = circuit.fold_vz(lines)
    assert lines == before
    assert folded["r"] == lines["r"] and folded["r"] is not lines["r"] and folded["r"][0] is not lines["r"][0]
    assert all(a is not b for a, b in zip(folded["q"], lines["q"]))


def test_mappings_and_numpy_numbers_are_read(read_only_mapping):
    entry = read_only_mapping(pulse(np.float64(0), width=np.int64(0), amp=0, vz=np.float32(0.5)))
    folded, events = circuit.fold_vz(read_only_mapping({"q": (entry, read_only_mapping(pulse(0)))}))
    assert type(folded) is dict and type(folded["q"]) is list and type(folded["q"][0]) is dict
    assert folded["q"][1]["frame_phase"] == 0.5 and events == [(0.0, "q", 0.5, 0.5)]


class Key(str):
    """A str subclass: a dict finds it under the equal str."""


def fresh(text):
    """An equal str that is a new object, not the interned one."""
    return "".join(list(text))


@pytest.mark.sanitize
@pytest.mark.parametrize("keys", [
    pytest.param(lambda k: Key(k), id="str subclass"),
    pytest.param(fresh, id="a new str object for every key of every description"),
])
def test_keys_are_found_whatever_str_objects_spell_them(keys):
    lines = {"q": [{keys(k): v for k, v in pd.items()} for pd in
                   [pulse(0, vz=0.25)] + [pulse(40e-9 * i) for i in range(1, 60)]]}
    lines["q"][1][7] = "not a str key"
    folded, events = circuit.fold_vz(lines)
    assert events == [(40e-9, "q", 0.25, 0.25)]
    assert [pd.get("frame_phase") for pd in folded["q"]] == [None] + [0.25] * 59
    assert folded["q"][1][7] == "not a str key"


def test_folded_lines_sample_save_check_and_draw():
    circ = compile_circuit(["X2", "VZ", "Y2", "VZ", "X2"], {"pi2": dict(PI2, phase_offs=0.1), "vz": 2.5})
    lines = circuit.collect_pdc(circ)
    folded, _ = circuit.fold_vz(lines)
    record = {"N": 300, "srate": SRATE, "offset_global": 0.0}
    waves = wh.sample_lines(folded, record)
    X, W, S = wh.pdc2pulse(folded["q0"], record)
    np.testing.assert_array_equal(waves["q0"][1], W)
    assert not np.allclose(W, wh.pdc2pulse(lines["q0"], record)[1])
    assert io.loads(io.dumps(folded)) == folded
    np.testing.assert_array_equal(wh.pdc2pulse(io.loads(io.dumps(folded))["q0"], record)[1], W)
    assert check.check_pulses(folded["q0"], record) == []
    plt = pytest.importorskip("matplotlib.pyplot")
    from halvane import plot

    for fig in (plot.plot_lines(waves), plot.plot_schedule(circ)):
        assert fig.axes
        plt.close(fig)


def test_times_at_nan_and_infinity():
    lines = {"q": [pulse(np.nan, vz=0.5), pulse(0, vz=0.25), pulse(np.inf), pulse(np.nan), pulse(40e-9)]}
    folded, events = circuit.fold_vz(lines)
    # An increment at NaN never takes effect and is listed last; a pulse at NaN is never turned.
    assert [pd.get("frame_phase") for pd in folded["q"]] == [None, None, 0.25, None, 0.25]
    assert events[0] == (40e-9, "q", 0.25, 0.25) and events[1][1:] == ("q", 0.5, 0.75)
    assert math.isnan(events[1][0])


# ---- bad input -------------------------------------------------------------------------


def test_folding_twice_raises_naming_the_entry():
    folded, _ = circuit.fold_vz({"q": [pulse(0, vz=0.3), pulse(40e-9)]})
    with pytest.raises(ValueError, match="already carries 'frame_phase'") as info:
        circuit.fold_vz(folded)
    assert info.value.__notes__ == ["while folding entry #1 of the line 'q'"]


@pytest.mark.parametrize("key, value", [("vz", "0.1"), ("vz", 1j), ("vz", np.complex64(1)), ("pos", None),
                                        ("width", [40e-9]), ("plateau", "0"), ("freq", 1e8 + 0j)])
def test_values_that_are_not_real_numbers_raise_type_error(key, value):
    lines = {"p": [pulse(0)], "q": [pulse(0), pulse(40e-9, **{key: value})]}
    with pytest.raises(TypeError, match=f"'{key}' must be a real number") as info:
        circuit.fold_vz(lines)
    assert info.value.__notes__ == ["while folding entry #1 of the line 'q'"]


def test_a_missing_position_raises_key_error_naming_the_entry():
    with pytest.raises(KeyError, match="'pos'") as info:
        circuit.fold_vz({"q": [{"width": 0, "plateau": 0}]})
    assert info.value.__notes__ == ["while folding entry #0 of the line 'q'"]


def test_a_line_that_is_not_a_list_of_descriptions_is_named():
    with pytest.raises(TypeError, match="not iterable") as info:
        circuit.fold_vz({"p": [pulse(0)], "q": 3})
    assert info.value.__notes__ == ["while folding the line 'q'"]


@pytest.mark.parametrize("follow, sign, message", [
    ({"cr": "q"}, None, "follow names the line 'cr', which is not one of the lines"),
    ({"q": "r"}, None, "follow names the line 'r', which is not one of the lines"),
    ({"q": "p", "p": "q"}, None, "follow goes round in a cycle through the line 'p'"),
    (None, {"x": 1}, "sign names the line 'x', which is not one of the lines"),
    (None, {"q": 2}, "sign of the line 'q' is 2; it must be +1 or -1"),
    (None, {"q": "-"}, "sign of the line 'q' is '-'; it must be +1 or -1"),
    (None, {"q": np.nan}, "sign of the line 'q' is nan; it must be +1 or -1"),
])
def test_bad_follow_and_sign_raise_value_error(follow, sign, message):
    with pytest.raises(ValueError, match="^" + message.replace("+", r"\+") + "$"):
        circuit.fold_vz({"p": [pulse(0)], "q": [pulse(0)]}, follow=follow, sign=sign)


@pytest.mark.parametrize("lines, follow, sign, name", [
    ([pulse(0)], None, None, "lines"),
    (None, None, None, "lines"),
    ({"q": [pulse(0)]}, ["q"], None, "follow"),
    ({"q": [pulse(0)]}, None, [("q", -1)], "sign"),
])
def test_arguments_that_are_not_mappings_raise_type_error_naming_them(lines, follow, sign, name):
    with pytest.raises(TypeError, match=f"^{name} must be a mapping"):
        circuit.fold_vz(lines, follow=follow, sign=sign)


@pytest.mark.parametrize("vz", [np.nan, np.inf, -np.inf])
def test_an_increment_that_is_not_finite_raises_naming_the_entry(vz):
    # It would turn every later pulse of the frame to a NaN phase without a word.
    with pytest.raises(ValueError, match="^'vz' must be finite, not") as info:
        circuit.fold_vz({"q": [pulse(0), pulse(40e-9, vz=vz), pulse(80e-9)]})
    assert info.value.__notes__ == ["while folding entry #1 of the line 'q'"]
