"""halvane.sweep: every point equals compiling and sampling it, from the swept pulses alone."""

import concurrent.futures
import copy
import pickle

import numpy as np
import pytest
from reference import assert_close

from halvane import _sweep, check, circuit, rule
from halvane import waveintent_enumeration as we
from halvane import wavespec_handling as wh
from halvane import sweep as sweep_module
from halvane.sweep import Axis, Sweep

SRATE = 2e9
RECORD = {"N": 1200, "srate": SRATE, "offset_global": 0.01}
FILTERED = dict(RECORD, offset_global=0.05, st=-7.3e-9, extra={"fast": [1.0, 0.05, 2e-8, 0.5e-9], "slow": [1.0, -0.2, 3e-7, 0.5e-9]})


def pulse(pos, **kw):
    return dict({"shape": "cos", "pos": pos, "width": 40e-9, "plateau": 0, "amp": 0.5, "freq": 130e6,
                 "phase": 0.3, "phase1": 0.1, "drag_scale": 0.3e-9}, **kw)


def step(pos, amp, **kw):
    return dict({"edge_shape": "sine_edge", "pos": pos, "width": 10e-9, "plateau": 0, "amp": amp}, **kw)


def flux(pos, **kw):
    return dict({"shape": "hcos", "pos": pos, "width": 10e-9, "plateau": 30e-9, "amp": 0.2, "freq": 0,
                 "phase": 0, "phase1": 0}, **kw)


def envelope(X, pd, cp):  # a user's shape, not linear in amp
    return np.full(len(X), abs(pd["amp"]) ** 2 + 0j)


LINES = {
    "xy": [pulse(10e-9), pulse(60e-9, sweep="g", drag_list=[0.1e-9]), pulse(90e-9, drag_detuning=20e6),
           pulse(300e-9, sweep="h", shape="hcos", plateau=30e-9, drag_detuning=-5e6), pulse(420e-9, sweep="u", shape=envelope),
           pulse(480e-9, sweep="gs", shape="gauss", plateau=10e-9)],
    "ro": [pulse(20e-9, freq=40e6, plateau=200e-9)],
    # a pulse listed before a level step it overlaps is cut where the step begins
    "z": [flux(40e-9, sweep="f"), step(50e-9, 0.2), flux(200e-9, sweep="f2"), step(400e-9, -0.1, sweep="s"),
          flux(500e-9)],
    "zf": [step(30e-9, 0.1), flux(100e-9, sweep="ff"), flux(300e-9), step(450e-9, 0.15, sweep="sf")],
}
RECORDS = {"xy": RECORD, "ro": RECORD, "z": RECORD, "zf": FILTERED}


def compiled(lines, records, axes, index, frames=None):
    """The point's descriptions, compiled by hand (and folded) and sampled."""
    lines = copy.deepcopy(lines)
    for axis, i in zip(axes.values(), index):
        targets = axis.pulses or [(n, k) for n, pds in lines.items() for k, pd in enumerate(pds)
                                  if pd.get("sweep") == axis.tag]
        for n, k in targets:
            lines[n][k][axis.key] = axis.values[i].item()
    if frames is not None:
        lines = circuit.fold_vz(lines, **frames)[0]
    return wh.sample_lines(lines, records)


def assert_point(got, want):
    assert list(got) == list(want)
    for name, (X, W, S) in want.items():
        assert_close(got[name][0], X, rel=0)
        for g, w in ((got[name][1], W), (got[name][2], S)):
            peak = np.abs(w).max()
            assert_close(g / peak, w / peak)  # within 1e-12 of the line's peak


AXES = {
    "amp and phase, with DRAG": {"a": Axis("amp", [0.1, -0.3 + 0.2j, 0.7], tag="g"),
                                 "p": Axis("phase", np.linspace(-3, 3, 3), tag="g"),
                                 "d": Axis("drag_scale", [0, 1e-9], tag="g")},
    "phase1 and detuning, a user's shape": {"p1": Axis("phase1", [0.0, 2.0], tag="h"),
                                             "dt": Axis("drag_detuning", [0, 30e6], tag="h"),
                                             "u": Axis("amp", [0.2, 0.5j], tag="u")},
    "shape keys": {"w": Axis("width", [20e-9, 60e-9], tag="h"), "pl": Axis("plateau", [0, 15e-9], tag="h"),
                   "fr": Axis("freq", [50e6, 0], tag="h"), "sg": Axis("sigma", [4e-9, 9e-9], tag="gs")},
    "positions across level steps and the window": {
        "f": Axis("pos", [40e-9, 47e-9, -10e-9, 590e-9, 2e-6], tag="f"),
        "s": Axis("amp", [0.3, -0.2], tag="s"), "f2": Axis("pos", [380e-9, 410e-9], tag="f2")},
    "a filtered line": {"ff": Axis("pos", [100e-9, 20e-9, 420e-9], tag="ff"), "fa": Axis("amp", [0.2, -0.4], tag="ff"),
                        "sf": Axis("amp", [0.15, 0.0], tag="sf")},
}


@pytest.mark.parametrize("axes", AXES.values(), ids=AXES)
def test_every_point_equals_compiling_it(axes):
    sweep = Sweep(LINES, RECORDS, axes)
    assert sweep.shape == tuple(len(a.values) for a in axes.values()) and len(sweep) == np.prod(sweep.shape)
    seen = 0
    for index, lines in sweep:
        assert_point(lines, compiled(LINES, RECORDS, axes, index))
        seen += 1
    assert seen == len(sweep)
    for flat in (0, len(sweep) // 2, -1):
        index = np.unravel_index(flat % len(sweep), sweep.shape)
        assert_point(sweep.sample(flat), compiled(LINES, RECORDS, axes, index))
        assert_point(sweep.sample(tuple(int(i) for i in index)), compiled(LINES, RECORDS, axes, index))


def test_a_gate_of_a_circuit_by_its_tag():
    template = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 100e6, "phase": 0,
                "phase1": 0, "vz": 0, "drag_scale": 0.2e-9}
    cal = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 0, "phase_offs": 0}}
    qubits = {str(q): {"d": {"nm": f"q{q}", "pdt": template, "cp": cal}} for q in range(3)}
    gates: dict = {}
    circuit.instructification(["X"], gates)
    X = gates["X"]
    circ = circuit.Circuit([X(0), X(1), X(0, d__sweep="rabi"), X(2), X(0)])
    circuit.semi_apply(circ, {"X": rule.RULE(d=[[we.X_p()]])}, qubits)
    circuit.ASAP(circ)
    lines = circuit.collect_pdc(circ)
    assert check.check_pulses(lines["q0"], RECORD) == []  # the tag is a known key
    axes = {"amp": Axis("amp", np.linspace(-1, 1, 5), tag="rabi"), "phase": Axis("phase", [0, np.pi / 3], tag="rabi")}
    sweep = Sweep(lines, RECORD, axes)
    assert sweep.lines == ["q0"] and list(sweep.coords) == ["amp", "phase"]
    assert sweep.coords["amp"].tolist() == [-1, -0.5, 0, 0.5, 1]
    for index, got in sweep:
        assert_point(got, compiled(lines, RECORD, axes, index))


# q0's frame: a virtual Z (swept) between pulses; 'cr' follows it on the other
# sideband; a flux pulse, which the fold never turns, moves.
VZ = dict(pulse(40e-9, width=0, amp=0, drag_scale=0), vz=0.3)
FRAMED = {"q0": [dict(pulse(0), vz=-0.2), dict(VZ, sweep="vz"), pulse(40e-9, sweep="a"), dict(VZ, pos=80e-9, vz=1.0),
                 pulse(80e-9), pulse(130e-9, shape=envelope)],
          "cr": [pulse(30e-9, freq=-70e6), pulse(120e-9, freq=-70e6, phase1=0.5)],
          "z": [flux(20e-9, sweep="f", vz=0), flux(150e-9)]}
FRAMES = {"follow": {"cr": "q0"}, "sign": {"cr": -1}}


@pytest.mark.parametrize("axes", [
    {"v": Axis("vz", np.linspace(-np.pi, 3, 5), tag="vz"), "a": Axis("amp", [0.1, -0.4j], tag="a")},
    {"v": Axis("vz", [0.0, 2.5], tag="vz"), "p1": Axis("phase1", [0.0, 1.0], pulses=[("q0", 5), ("cr", 1)]),
     "f": Axis("pos", [20e-9, 100e-9], tag="f")},
], ids=["vz x amp", "vz x phase1 x a flux pulse's pos"])
def test_a_frame_axis_equals_folding_every_point(axes):
    sweep = Sweep(FRAMED, RECORD, axes, frames=FRAMES)
    for index, got in sweep:
        assert_point(got, compiled(FRAMED, RECORD, axes, index, FRAMES))


@pytest.mark.parametrize("axes, match", [
    ({"p": Axis("pos", [0, 1e-9], tag="a")}, "'pos' of line 'q0' entry #2 cannot be swept"),
    ({"w": Axis("width", [0, 1e-9], tag="vz")}, "'width' of line 'q0' entry #1 cannot be swept"),
    ({"fr": Axis("freq", [0, 1e6], tag="a")}, "'freq' of line 'q0' entry #2 cannot reach or leave 0"),
])
def test_frames_refuse_axes_that_change_the_folding(axes, match):
    with pytest.raises(ValueError, match=match):
        Sweep(FRAMED, RECORD, axes, frames=FRAMES)


def test_untouched_lines_are_shared_and_buffers_reused():
    sweep = Sweep(LINES, RECORDS, AXES["amp and phase, with DRAG"])
    points = list(sweep.points(0, 4))
    first, last = points[0][1], points[-1][1]
    assert [i for i, _ in points] == [(0, 0, 0), (0, 0, 1), (0, 1, 0), (0, 1, 1)]
    for name in ("ro", "z", "zf"):  # the same arrays, read-only, at every point and in sample()
        assert all(a is b for a, b in zip(first[name], last[name]))
        assert all(a is b for a, b in zip(first[name], sweep.sample(3)[name]))
        assert not any(a.flags.writeable for a in first[name])
    assert np.shares_memory(first["xy"][1], last["xy"][1]) and not first["xy"][1].flags.writeable
    copied = list(sweep.points(0, 4, copy=True))
    assert not np.shares_memory(copied[0][1]["xy"][1], copied[-1][1]["xy"][1])
    assert_point(copied[0][1], sweep.sample(0))
    fresh = sweep.sample(1)
    assert fresh["xy"][1].flags.writeable and not np.shares_memory(fresh["xy"][1], sweep.sample(1)["xy"][1])


def test_sample_into_out_buffers():
    sweep = Sweep(LINES, RECORDS, AXES["a filtered line"])
    W, S = np.full(1200, np.nan + 0j), np.full(1200, np.nan + 0j)
    got = sweep.sample(5, out={"zf": (W, S)})
    assert got["zf"][1] is W and got["zf"][2] is S
    assert_point(got, sweep.sample(5))


SHARED = np.zeros(2401, complex)


@pytest.mark.parametrize("out, exc, match", [
    ([], TypeError, "out must be a mapping from line name"),
    ({"ro": (np.zeros(1200, complex), np.zeros(1200, complex))}, ValueError,
     "out names line 'ro', which no axis of the sweep changes"),
    ({"zf": (np.zeros(1200, complex),)}, ValueError, r"out\['zf'\] must be a pair"),
    ({"zf": (np.zeros(1200, complex), np.zeros(10, complex))}, ValueError, r"out\['zf'\]\[1\] must have exactly 1200"),
    ({"zf": (np.zeros(1200),) * 2}, TypeError, r"out\['zf'\]\[0\] must be a complex128"),
    ({"zf": (np.zeros(1200, complex),) * 2}, ValueError, "two different arrays"),
    ({"zf": (SHARED[:1200], SHARED[1:1201])}, ValueError, "the out buffers of lines 'zf' and 'zf' share memory"),
])
def test_bad_out_buffers(out, exc, match):
    sweep = Sweep(LINES, RECORDS, AXES["a filtered line"])
    with pytest.raises(exc, match=match):
        sweep.sample(0, out=out)


@pytest.mark.parametrize("make, exc, match", [
    (lambda: Axis("vz_x", [1], tag="g"), ValueError, "a sweep cannot set the key 'vz_x'"),
    (lambda: Sweep(LINES, RECORDS, {"v": Axis("vz", [1], tag="g")}), ValueError, "axis 'v': a 'vz' axis needs frames="),
    (lambda: Axis("amp", [[1, 2]], tag="g"), TypeError, "1-D sequence of numbers, not an array of shape"),
    (lambda: Axis("amp", ["a", "b"], tag="g"), TypeError, "1-D sequence of numbers, not an array of dtype"),
    (lambda: Axis("amp", [1]), ValueError, "exactly one of them"),
    (lambda: Axis("amp", [1], tag="g", pulses=[("xy", 1)]), ValueError, "exactly one of them"),
    (lambda: Sweep(LINES, RECORDS, {"a": Axis("amp", [1], pulses=[("nope", 1)])}), ValueError,
     "axis 'a': there is no line 'nope'"),
    (lambda: Sweep(LINES, RECORDS, {"a": Axis("amp", [1], pulses=[("xy", 9)])}), ValueError,
     "axis 'a': line 'xy' has no entry #9 \\(it has 6\\)"),
    (lambda: Sweep(LINES, RECORDS, {"a": Axis("amp", [1], tag="zz")}), ValueError,
     "axis 'a': no pulse carries 'sweep': 'zz'"),
    (lambda: Sweep(LINES, RECORDS, {"a": Axis("pos", [1e-9], tag="s")}), ValueError,
     "line 'z' entry #3 is a level step, whose 'pos' a sweep cannot set"),
    (lambda: Sweep(LINES, RECORDS, {"a": Axis("phase", [1], tag="g"), "b": Axis("phase", [2], pulses=[("xy", 1)])}),
     ValueError, "axes 'a' and 'b' both set 'phase' of line 'xy' entry #1"),
    (lambda: Sweep(LINES, RECORDS, {"a": [1, 2]}), TypeError, "axis 'a' must be an Axis"),
    (lambda: Sweep(LINES, RECORDS, [Axis("amp", [1], tag="g")]), TypeError, "axes must be a mapping"),
])
def test_bad_input(make, exc, match):
    with pytest.raises(exc, match=match):
        make()


def test_nothing_is_rendered_for_a_constructor_that_raises(monkeypatch):
    calls = []
    for name in ("sample_lines", "pdc2pulse", "rng", "carrier"):
        monkeypatch.setattr(wh, name, lambda *a, _f=getattr(wh, name), **k: calls.append(1) or _f(*a, **k))
    with pytest.raises(ValueError):
        Sweep(LINES, RECORDS, {"a": Axis("amp", [1], tag="g"), "b": Axis("amp", [1], tag="nope")})
    assert calls == []
    Sweep(LINES, RECORDS, {"a": Axis("amp", [1], tag="g")})
    assert calls  # the spies see a sweep that renders


@pytest.mark.parametrize("index", [18, -19, (3, 0, 0), (0, 0, 2), (0, 0), 1.0])
def test_points_out_of_range(index):
    sweep = Sweep(LINES, RECORDS, AXES["amp and phase, with DRAG"])
    with pytest.raises(IndexError):
        sweep.sample(index)


@pytest.mark.parametrize("start, stop", [(-1, None), (0, 19), (2.0, 5)])
def test_point_ranges_out_of_range(start, stop):
    sweep = Sweep(LINES, RECORDS, AXES["amp and phase, with DRAG"])
    with pytest.raises(ValueError, match="must be a position from 0 to 18"):
        next(sweep.points(start, stop))


def test_pickled_sweeps_and_map():
    sweep = Sweep(LINES, RECORDS, AXES["positions across level steps and the window"])
    again = pickle.loads(pickle.dumps(sweep))
    peaks = [float(np.abs(lines["z"][1]).max()) for _, lines in sweep]
    assert again.map(lambda i, lines: float(np.abs(lines["z"][1]).max())) == peaks
    assert_point(again.sample(7), sweep.sample(7))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        assert sweep.map(_peak, executor=pool, chunk=3) == peaks
        assert sweep.map(_peak, executor=pool) == peaks  # chunked by a first run here
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        assert sweep.map(_peak, executor=pool, chunk=7) == peaks
    with pytest.raises(ValueError, match="not both"):
        sweep.map(_peak, executor=pool, client=object())
    with pytest.raises(ValueError, match="chunk must be at least 1"):
        sweep.map(_peak, executor=pool, chunk=0)


def test_a_long_filtered_sweep_equals_every_point():
    # More points than a filtered line is moved in place before it is made
    # afresh, and points whose input is not finite, after which the line is
    # made afresh again.
    lines, records = {"zf": LINES["zf"]}, {"zf": FILTERED}
    axes = {"ff": Axis("pos", np.linspace(20e-9, 420e-9, 150), tag="ff")}
    sweep = Sweep(lines, records, axes)
    for index, got in sweep:
        assert_point(got, compiled(lines, records, axes, index))
    # Each point depends on its position alone, however the points are split.
    W = [lines["zf"][1][::97].copy() for _, lines in sweep]
    for start in (0, 63, 64, 100):
        got = [lines["zf"][1][::97] for _, lines in sweep.points(start, start + 30, copy=True)]
        assert all(np.array_equal(g, w) for g, w in zip(got, W[start:start + 30], strict=True))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        for chunk in (None, 37):
            got = sweep.map(lambda i, lines: lines["zf"][1][::97].copy(), executor=pool, chunk=chunk)
            assert all(np.array_equal(g, w) for g, w in zip(got, W, strict=True))
    axes = {"fa": Axis("amp", [0.2, np.inf, -np.inf, 0.3, 0.5], tag="ff")}
    points = list(Sweep(lines, records, axes).points(copy=True))
    for index, got in (points[0], *points[3:]):
        assert_point(got, compiled(lines, records, axes, index))


@pytest.mark.parametrize("points, per_point, threads, chunk", [
    (10_000, 90e-6, 2, 1280),   # 0.9 s: 8 tasks of 1,250 points, taken up to a 64th
    (5_000, 1e-3, 3, 128),      # 5 s: 48 tasks of 105 points
    (100, 1e-6, 4, 128),        # 0.1 ms: one task
    (40, 0.05, 8, 3),           # 2 s: 16 tasks, of 3 points at most
])
def test_chunks_hold_work_enough_for_a_multiple_of_the_threads(points, per_point, threads, chunk):
    assert sweep_module._chunk(points, per_point, threads) == chunk


def _peak(index, lines):
    return float(np.abs(lines["z"][1]).max())


MODELS = {"slow": [[1.0, 0.05, 2e-8, 0.5e-9], [1.0, -0.3, 4e-6, 0.5e-9]],
          "complex": [[1.0, 0.1 + 0.05j, 2e-8, 0.5e-9]], "none": []}


def stage_coefficients(stages):
    """The IIR filters of a model and their stages (b0, b1, a1), as the sweep forms them."""
    iirs = [wh.cal_iir_coef(v) for v in MODELS[stages]]
    return iirs, [tuple(np.array(F) + np.array([1, -1, 1])) for F in iirs]


@pytest.mark.parametrize("in_place", [False, True], ids=["into out", "in place"])
@pytest.mark.parametrize("n, m, start, stages", [
    (5000, 40, 100, "slow"), (20000, 3000, 0, "slow"), (3000, 3000, 0, "slow"), (1500, 40, 10, "complex"),
    (40000, 40, 0, "slow"),  # the fast stage's state passes below 2^-900 and is dropped
    (1500, 0, 700, "slow"), (1500, 40, 10, "none")])
def test_filtered_response_equals_the_filter(n, m, start, stages, in_place):
    rng = np.random.default_rng(7)
    iirs, coefficients = stage_coefficients(stages)
    rest = rng.normal(size=n) + 1j * rng.normal(size=n)
    x = rng.normal(size=m) + 1j * rng.normal(size=m)
    y = np.zeros(n - start, complex)
    y[:m] = x
    if in_place:
        out = rest.copy()
        _sweep.add_filtered(out, out, start, x, coefficients)
        want = rest.copy()
    else:
        out = np.full(n, np.nan + 0j)
        _sweep.add_filtered(out, rest, start, x, coefficients)
        want = np.full(n, np.nan + 0j)  # nothing before start is written
    want[start:] = rest[start:] + wh.fix(None, y, iirs, None)
    assert_close(out, want, rel=1e-13)


@pytest.mark.parametrize("in_place", [False, True], ids=["into out", "in place"])
def test_the_response_ends_where_the_states_are_negligible(in_place):
    _, coefficients = stage_coefficients("slow")
    rest = np.linspace(1, 2, 30000) + 0j
    x = np.ones(40, complex)
    out = rest.copy() if in_place else np.zeros_like(rest)
    full = rest.copy()
    _sweep.add_filtered(full, rest, 0, x, coefficients)
    _sweep.add_filtered(out, out if in_place else rest, 0, x, coefficients, negligible=1e-4)
    # Past the point where the states fell below 1e-4, out is the rest: in
    # place nothing is written there, into out the rest is copied.
    end = np.flatnonzero(out != rest)[-1] + 1
    assert 40 < end < 25000 and np.all(full[end:] != rest[end:])
    assert np.abs(out - full).max() < 2e-4  # the slow stage's state bounds what is left out


def test_a_state_that_is_not_finite_spreads_as_the_filter_spreads_it():
    iirs = [wh.cal_iir_coef([1.0, 0.05, 2e-8, 0.5e-9])]
    coefficients = [tuple(np.array(F) + np.array([1, -1, 1])) for F in iirs]
    x = np.array([1, np.inf, 2], complex)
    out = np.zeros(2000, complex)
    _sweep.add_filtered(out, np.zeros(2000, complex), 0, x, coefficients)
    y = np.zeros(2000, complex)
    y[:3] = x
    assert_close(out, wh.fix(None, y, iirs, None))


@pytest.mark.parametrize("name", [n for n, f in wh.shapeTable.items() if sweep_module._is_native_envelope(f)])
def test_the_native_envelopes_are_linear_in_amp(name):
    # A sweep scales one rendering of such a shape by amp: a native shape that
    # is not linear in amp must not pass for one.
    X = np.linspace(0, 100e-9, 201)
    pd = {"pos": 10e-9, "width": 40e-9, "plateau": 20e-9, "amp": 1.0, "epsilon": 0.1, "sigma": 8e-9}
    unit = wh.shapeTable[name](X, pd, {})
    for amp in (0.37, 0.3 - 0.2j, -1.5):
        assert_close(wh.shapeTable[name](X, dict(pd, amp=amp), {}), amp * unit, rel=1e-15)
