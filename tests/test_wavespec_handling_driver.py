"""The sampling driver pdc2pulse against the numpy steps it is defined by."""

import copy
import functools
import itertools
import threading

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import reference as ref
from halvane import wavespec_handling as wh
from halvane.wavespec import WaveSpec

SHAPES = [k for k in wh.shapeTable if k != "sine_edge"]  # the table's envelope shapes, in its order


# The driver's steps in numpy, with the module's own shapes (which tests rebind).
ref_pdc2pulse = functools.partial(ref.pdc2pulse, table=wh.shapeTable)


def assert_line(got, want):
    np.testing.assert_array_equal(got[0], want[0])
    for g, w in zip(got[1:], want[1:]):
        assert g.dtype == np.complex128
        ref.assert_close(g, w)


def pulse(pos, shape="cos", width=20e-9, plateau=0.0, amp=0.5, freq=5e9, **kw):
    return dict(shape=shape, pos=pos, width=width, plateau=plateau, amp=amp, freq=freq, phase=0.3, phase1=-0.1,
                **kw)


def step(pos, amp, width=4e-9):
    return dict(edge_shape="sine_edge", pos=pos, width=width, plateau=0, amp=amp)


LI = dict(N=400, srate=2e9, offset_global=0.1, st=-20e-9)
IIR = {"a": [0.95, 0.05, 3e-7, 5e-10], "b": [1.02, -0.02, 2e-8, 5e-10]}


@pytest.mark.parametrize("pds", [
    [pulse(10e-9), step(15e-9, 0.4)],                 # a step erases the pulse from its first sample
    [step(15e-9, 0.4), pulse(10e-9)],                 # the pulse rides on the new level
    [step(-50e-9, 0.3), pulse(0), step(40e-9, -0.2)], # a step before the window, then another
    [pulse(-25e-9, plateau=10e-9), pulse(170e-9)],    # clipped at both window edges
    [pulse(1e-6), pulse(-1e-6)],                      # outside the window
    [pulse(30e-9), pulse(30e-9, shape="hcos", amp=0.2j)],  # two pulses at one time
    [pulse(5e-9, drag_scale=2e-10, drag_list=[1e-10, -3e-11], drag_detuning=4e6, amp_scale=0.8)],
])
@pytest.mark.parametrize("extra", [None, IIR])
@pytest.mark.parametrize("rest", [0.1, 0.0, -0.0])
def test_collections_match_numpy(pds, extra, rest):
    li = dict(LI, offset_global=rest, extra=extra) if extra else dict(LI, offset_global=rest)
    assert_line(wh.pdc2pulse(pds, li), ref_pdc2pulse(pds, li))


def test_levels_of_zero_after_other_levels():
    pds = [step(-50e-9, 0.3), step(30e-9, 0.0), pulse(60e-9), step(100e-9, -0.0), step(140e-9, 0j)]
    li = dict(LI, offset_global=0.0)
    X, W, S = got = wh.pdc2pulse(pds, li)
    want = ref_pdc2pulse(pds, li)
    assert_line(got, want)
    assert np.signbit(S.real).tolist() == np.signbit(want[2].real).tolist()


@pytest.mark.parametrize("pos", [-50e-9, -20e-9, -18.6e-9, -18.1e-9])
def test_level_step_at_the_window_start_writes_from_its_own_first_sample(pos):
    # The window starts at -20 ns, 0.5 ns per sample: these steps begin before
    # the window, at its first sample, after sample 2, and after sample 3.
    X, W, S = got = wh.pdc2pulse([step(pos, 0.3, width=0)], LI)
    first = max(int((pos - LI["st"]) * LI["srate"]), 0)
    assert first < 4
    np.testing.assert_array_equal(S[:first], 0.1)
    np.testing.assert_array_equal(S[first + 1:], 0.3)
    assert_line(got, ref_pdc2pulse([step(pos, 0.3, width=0)], LI))


def test_level_step_from_sample_five_on_is_unchanged():
    # Steps after samples 5 and 100 (sample 5 lies at -17.5 ns).
    X, W, S = wh.pdc2pulse([step(-17.4e-9, 0.3, width=0), step(30.1e-9, -0.2, width=0)], LI)
    np.testing.assert_array_equal(S[:6], 0.1)
    np.testing.assert_array_equal(S[6:101], 0.3)
    np.testing.assert_array_equal(S[101:], -0.2)


@pytest.mark.parametrize("pds", [
    [pulse(-(2.0**62) / 2e9, width=2.0**63 / 2e9)],              # covers the window, a + b beyond 2^62
    [pulse(2.0**62 / 2e9, width=2.0**62 / 2e9)],                # far after it
    [pulse(-1e280, width=1e280), pulse(-1e280, width=2e280)],   # ends before it; covers it
    [step(-1e280, 0.3), step(1e280, 0.5)],
])
def test_pulses_far_from_the_window_are_skipped_or_clipped(pds):
    assert_line(wh.pdc2pulse(pds, LI), ref_pdc2pulse(pds, LI))


@pytest.mark.parametrize("pds", [
    [pulse(0, drag_list=itertools.repeat(1e-11))],   # an endless drag_list
    itertools.repeat(pulse(1e-3)),                   # an endless collection (outside the window)
])
def test_endless_iterables_stop_at_a_signal(interrupt, pds):
    interrupt(0.05)
    with pytest.raises(TimeoutError, match="interrupted"):
        wh.pdc2pulse(pds, LI)


def test_clipped_pulse_equals_its_samples_in_a_wider_window():
    p = [pulse(-5e-9, width=30e-9)]
    X, W, S = wh.pdc2pulse(p, dict(N=100, srate=2e9, offset_global=0))
    X2, W2, S2 = wh.pdc2pulse(p, dict(N=200, srate=2e9, offset_global=0, st=-50e-9))
    np.testing.assert_allclose(S, S2[100:], rtol=0, atol=1e-15)
    np.testing.assert_allclose(W, W2[100:], rtol=0, atol=1e-12)


@pytest.mark.parametrize("extra", ["not a dict", [[0.95, 0.05, 3e-7, 5e-10]], 0, ()])
def test_extra_that_is_not_a_dict_is_refused(extra):
    li = dict(N=50, srate=1e9, offset_global=0.25, extra=extra)
    with pytest.raises(TypeError, match=rf"^li\['extra'\] must be a dict of IIR models or None, not {type(extra).__name__}$"):
        wh.pdc2pulse([pulse(0)], li)


@pytest.mark.parametrize("extra", [None, {}, IIR])
def test_empty_collection_rests_at_offset_global(extra):
    li = dict(N=50, srate=1e9, offset_global=0.25, extra=extra)
    X, W, S = wh.pdc2pulse([], li)
    np.testing.assert_array_equal(X, np.linspace(0, 50 / 1e9, 50, endpoint=False))
    np.testing.assert_array_equal(S, np.full(50, 0.25 + 0j))
    np.testing.assert_allclose(W, 0.25, rtol=0, atol=1e-15)


def test_no_samples():
    X, W, S = wh.pdc2pulse([pulse(0), step(0, 1)], dict(N=0, srate=1e9, offset_global=1, extra=IIR))
    assert X.shape == W.shape == S.shape == (0,) and W.dtype == S.dtype == np.complex128


def test_plain_pulse_adds_its_rotated_envelope():
    pd = pulse(10e-9, amp=0.7, amp_scale=0.5)
    X, W, S = wh.pdc2pulse([pd], dict(N=100, srate=2e9, offset_global=0))
    st, ed = wh.rng(pd, 0, 2e9, 100)
    env = wh.cosine(X[st:ed], pd) * 0.5 * np.exp(1j * 0.2)
    np.testing.assert_allclose(S[st:ed], env, rtol=0, atol=1e-15)
    np.testing.assert_allclose(W[st:ed], env * wh.carrier(X[st:ed], 5e9), rtol=0, atol=1e-15)
    assert not S[:st].any() and not S[ed:].any()


def recorder(calls, f):
    def wrapped(*args):
        calls.append(args)
        return f(*args)
    return wrapped


@pytest.mark.parametrize("name", ["rng", "grad", "carrier", "cal_iir_coef", "fix", "IIR_filtering", "lfilter"])
def test_rebound_collaborators_are_called(monkeypatch, name):
    pds = [step(-50e-9, 0.3), pulse(5e-9, drag_scale=1e-10, drag_list=[2e-11]), pulse(60e-9, shape="tanh", epsilon=2)]
    li = dict(LI, extra=IIR)
    want = wh.pdc2pulse(pds, li)
    calls = []
    monkeypatch.setattr(wh, name, recorder(calls, getattr(wh, name)))
    assert_line(wh.pdc2pulse(pds, li), want)
    assert calls


def test_rebound_carrier_gets_the_pulse_times(monkeypatch):
    seen = []
    monkeypatch.setattr(wh, "carrier", lambda X, f, ph, imb: seen.append((X.copy(), f, ph, imb)) or np.ones(len(X)))
    pd = pulse(10e-9)
    X, W, S = wh.pdc2pulse([pd], dict(N=100, srate=2e9, offset_global=0))
    (x, f, ph, imb), = seen
    st, ed = wh.rng(pd, 0, 2e9, 100)
    np.testing.assert_array_equal(x, X[st:ed])
    assert (f, ph, imb) == (5e9, 0, 0)
    np.testing.assert_array_equal(W, S)


def test_rebound_shape_table_entry(monkeypatch):
    monkeypatch.setitem(wh.shapeTable, "cos", lambda X, pd, cp: np.full(len(X), 2.0 + 0j))
    monkeypatch.setitem(wh.shapeTable, "new", lambda X, pd, cp: np.full(len(X), 3.0 + 0j))
    pds = [pulse(10e-9), pulse(80e-9, shape="new")]
    li = dict(N=200, srate=2e9, offset_global=0)
    assert_line(wh.pdc2pulse(pds, li), ref_pdc2pulse(pds, li))


def test_rebound_edge_entry(monkeypatch):
    monkeypatch.setitem(wh.shapeTable, "sine_edge", lambda X, x0, w: np.clip((X - x0) / w + 0.5, 0, 1))
    pds = [step(10e-9, 0.5, width=20e-9), pulse(30e-9), step(60e-9, 1j)]
    assert_line(wh.pdc2pulse(pds, LI), ref_pdc2pulse(pds, LI))


@pytest.mark.parametrize("bounds", [lambda a, b: (np.int64(a), np.int64(b)), lambda a, b: (a - 400, b - 400),
                                    lambda a, b: (a, a + 1), lambda a, b: (b, a + 2), lambda a, b: (a - 3, a - 1)])
def test_rebound_rng_bounds_slice_as_python_does(monkeypatch, bounds):
    orig = wh.rng
    pds = [pulse(10e-9, drag_scale=1e-10), step(40e-9, 0.2), pulse(80e-9, shape="hyper", epsilon=3)]
    monkeypatch.setattr(wh, "rng", lambda pd, st, sr, N: bounds(*orig(pd, st, sr, N)))
    with np.errstate(all="ignore"):
        want = ref_pdc2pulse(pds, LI, rng=wh.rng)
    assert_line(wh.pdc2pulse(pds, LI), want)


class Mapping(dict):
    """A dict subclass: read through the mapping protocol, never natively."""


@pytest.mark.parametrize("convert", [
    Mapping,
    lambda d: {k: np.float64(v) if isinstance(v, float) else v for k, v in d.items()},
    lambda d: {k: np.complex64(v) if k == "amp" else v for k, v in d.items()},
    lambda d: dict(d, drag_list=np.array([1e-10, 2e-11]), drag_scale=np.float64(1e-10)),
])
def test_other_value_types_take_the_interpreter_path(convert):
    pds = [convert(step(-50e-9, 0.3)), convert(pulse(5e-9, drag_detuning=3e6)), convert(pulse(60e-9, shape="sine"))]
    li = Mapping(N=np.int64(300), srate=2e9, offset_global=np.float32(0.1), st=0, extra=IIR)
    assert_line(wh.pdc2pulse(pds, li), ref_pdc2pulse(pds, li))


def test_callable_shape_is_called_with_the_slice_the_description_and_a_new_dict():
    seen = []

    def shape(X, pd, cp):
        seen.append((X.copy(), pd, cp))
        cp["touched"] = True
        return np.linspace(0, 1, len(X)) + 0j

    pd = pulse(10e-9, shape=shape)
    li = dict(N=100, srate=2e9, offset_global=0)
    got = wh.pdc2pulse([pd, pd], li)
    assert_line(got, ref_pdc2pulse([pd, pd], li))
    (x1, pd1, cp1), (x2, pd2, cp2) = seen[:2]  # the driver's two calls, before the reference's
    st, ed = wh.rng(pd, 0, 2e9, 100)
    np.testing.assert_array_equal(x1, got[0][st:ed])
    assert pd1 is pd and cp1 is not cp2


def test_rebinding_by_a_callback_is_seen_by_the_next_pulse(monkeypatch):
    monkeypatch.setattr(wh, "carrier", wh.carrier)
    monkeypatch.setitem(wh.shapeTable, "cos", wh.shapeTable["cos"])

    def shape(X, pd, cp):
        wh.carrier = lambda X, f, ph, imb: np.ones(len(X))
        wh.shapeTable["cos"] = lambda X, pd, cp: np.full(len(X), 0.25 + 0j)
        return np.zeros(len(X), complex)

    first, second = pulse(10e-9), pulse(80e-9)
    X, W, S = wh.pdc2pulse([first, pulse(40e-9, shape=shape), second], dict(N=300, srate=2e9, offset_global=0))
    a, b = wh.rng(first, 0, 2e9, 300)
    c, d = wh.rng(second, 0, 2e9, 300)
    assert not np.allclose(W[a:b], S[a:b])
    np.testing.assert_allclose(S[c:d], 0.25 * np.exp(0.2j) * np.ones(d - c), rtol=1e-15)
    np.testing.assert_array_equal(W[c:d], S[c:d])


@pytest.mark.parametrize("shape", [42, None, b"cos"])
def test_shape_neither_str_nor_callable(shape):
    with pytest.raises(TypeError, match=f"shape {shape!r}"):
        wh.pdc2pulse([pulse(10e-9, shape=shape)], LI)


@pytest.mark.parametrize("pd, li, key", [
    (pulse(0), {"srate": 1e9, "offset_global": 0}, "N"),
    (pulse(0), {"N": 10, "offset_global": 0}, "srate"),
    (pulse(0), {"N": 10, "srate": 1e9}, "offset_global"),
    ({"pos": 0, "plateau": 0}, LI, "width"),
    ({"pos": 0, "width": 0}, LI, "plateau"),
    ({"width": 0, "plateau": 0}, LI, "pos"),
    ({"edge_shape": "sine_edge", "pos": 0, "width": 0, "plateau": 0}, LI, "amp"),
    ({"edge_shape": "nope", "pos": 0, "width": 0, "plateau": 0}, LI, "nope"),
    ({k: v for k, v in pulse(0).items() if k != "shape"}, LI, "shape"),
    ({k: v for k, v in pulse(0).items() if k != "phase1"}, LI, "phase1"),
    ({k: v for k, v in pulse(0).items() if k != "freq"}, LI, "freq"),
    ({k: v for k, v in pulse(0).items() if k not in ("phase", "freq")}, LI, "phase"),
    ({"shape": "cos"}, LI, "width"),
    (pulse(0, shape="cosine"), LI, "cosine"),
    (pulse(0, shape="tanh"), LI, "epsilon"),
])
def test_missing_keys(pd, li, key):
    with pytest.raises(KeyError) as info:
        wh.pdc2pulse([pd], li)
    assert str(info.value) == repr(key)  # the message, without the notes


def test_skipped_pulse_and_level_step_read_no_more_keys():
    far = {"pos": 1e-3, "width": 0, "plateau": 0}
    lvl = {"edge_shape": "sine_edge", "pos": 0, "width": 1e-9, "plateau": 0, "amp": 0.5}
    X, W, S = wh.pdc2pulse([far, lvl], LI)
    assert S[-1] == 0.5


@pytest.mark.parametrize("N, exc, msg", [(-1, ValueError, "Number of samples, -1, must be non-negative."),
                                         (10 ** 13, MemoryError, "Unable to allocate"), (2.5, TypeError, "cannot be interpreted")])
def test_bad_sample_counts(N, exc, msg):
    with pytest.raises(exc, match=msg.replace(".", r"\.")):
        wh.pdc2pulse([], dict(N=N, srate=1e9, offset_global=0))


@pytest.mark.parametrize("gof", ["x", [1, 2], None, np.array(2.5j), -0.0, True])
def test_resting_level_is_what_fill_stores(gof):
    want = np.zeros(3, complex)
    try:
        want.fill(gof)
    except Exception as e:
        with pytest.raises(type(e)):
            wh.pdc2pulse([], dict(N=3, srate=1e9, offset_global=gof))
    else:
        X, W, S = wh.pdc2pulse([], dict(N=3, srate=1e9, offset_global=gof))
        np.testing.assert_array_equal(S, want)
        assert np.signbit(S.real).tolist() == np.signbit(want.real).tolist()


def test_inputs_are_not_modified():
    pds = [step(-50e-9, 0.3), pulse(5e-9, drag_list=[1e-10]), pulse(20e-9, shape="sine", scale_a=0.2)]
    li = dict(LI, extra=IIR)
    before = copy.deepcopy((pds, li))
    wh.pdc2pulse(tuple(pds), li)
    assert (pds, li) == before


def test_threads_give_the_serial_arrays():
    lines = [[pulse(k * 1e-9 + j * 40e-9, drag_scale=1e-10, drag_detuning=1e6) for j in range(40)]
             + [step(k * 7e-9, 0.1 * k)] for k in range(8)]
    li = dict(N=20000, srate=2e9, offset_global=0.05, extra=IIR)
    serial = [wh.pdc2pulse(p, li) for p in lines]
    threaded = [None] * len(lines)

    def run(k):
        for _ in range(3):
            threaded[k] = wh.pdc2pulse(lines[k], li)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(lines))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for s, t in zip(serial, threaded):
        for a, b in zip(s, t):
            np.testing.assert_array_equal(a, b)


def descriptions():
    num = st.floats(-1, 1, allow_nan=False)
    amp = st.one_of(num, st.complex_numbers(max_magnitude=1, allow_nan=False, allow_infinity=False))
    times = st.floats(-60e-9, 260e-9)
    pulse_ = st.builds(
        lambda shape, pos, w, pl, a, f, p, dr, dl, dt, sc, eps: dict(
            shape=shape, pos=pos, width=w, plateau=pl, amp=a, freq=f, phase=p, phase1=p / 2, drag_scale=dr,
            drag_list=dl, drag_detuning=dt, amp_scale=sc, epsilon=eps, scale_a=0.1, scale_b=0.9),
        st.sampled_from(SHAPES), times, st.floats(2e-9, 40e-9), st.floats(0, 30e-9), amp, st.floats(-6e9, 6e9),
        num, st.floats(-5e-10, 5e-10), st.lists(st.floats(-2e-10, 2e-10), max_size=2), st.floats(-2e7, 2e7),
        num, st.floats(0.5, 3))
    step_ = st.builds(lambda pos, w, a: dict(edge_shape="sine_edge", pos=pos, width=w, plateau=0, amp=a),
                      times, st.floats(0, 10e-9), amp)
    return st.lists(st.one_of(pulse_, pulse_, step_), max_size=12)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(pds=descriptions(), st_=st.floats(-50e-9, 50e-9), gof=st.floats(-1, 1), iir=st.booleans())
def test_property_matches_numpy(pds, st_, gof, iir):
    li = dict(N=500, srate=2e9, offset_global=gof, st=st_)
    if iir:
        li["extra"] = IIR
    with np.errstate(all="ignore"):
        want = ref_pdc2pulse(pds, li)
    assert_line(wh.pdc2pulse(pds, li), want)


ANY = st.one_of(st.none(), st.text(max_size=3), st.floats(), st.integers(-10 ** 20, 10 ** 20),
                st.complex_numbers(), st.lists(st.floats(-1, 1), max_size=3), st.sampled_from(SHAPES))


@settings(max_examples=300, deadline=None)
@given(pds=st.lists(st.dictionaries(st.sampled_from(
    ["shape", "edge_shape", "pos", "width", "plateau", "amp", "freq", "phase", "phase1", "drag_scale", "drag_list",
     "drag_detuning", "amp_scale", "epsilon"]), st.one_of(st.floats(-1e-7, 1e-7), ANY)), max_size=4),
    N=st.integers(-2, 300), srate=st.one_of(st.just(2e9), ANY), gof=st.one_of(st.just(0.5), ANY),
    st_=st.one_of(st.just(0.0), ANY))
def test_garbage_raises_or_returns(pds, N, srate, gof, st_):
    """Whatever the values, a call returns arrays or raises; it never crashes."""
    li = dict(N=N, srate=srate, offset_global=gof, st=st_)
    try:
        with np.errstate(all="ignore"):
            X, W, S = wh.pdc2pulse(pds, li)
    except Exception:
        return
    assert len(X) == len(W) == len(S) == N


def test_reads_come_in_the_order_the_steps_make_them(read_log):
    log = []
    p = read_log(log, pulse(10e-9, shape="square", drag_list=[1e-11]))
    s = read_log(log, step(40e-9, 0.3))
    li = read_log(log, dict(LI, extra=IIR))
    want = ref_pdc2pulse([p, s], li)
    del log[:]
    got = wh.pdc2pulse([p, s], li)
    assert_line(got, want)
    rng_reads = ["width", "plateau", "pos"]
    assert log == (["N", "srate", "offset_global", "get st"]
                   # the type test and the table key each read shape
                   + rng_reads + ["in edge_shape", "shape", "shape", "pos", "width", "plateau", "amp"]
                   + ["get drag_scale", "get drag_list", "get drag_detuning"]
                   + ["width", "plateau", "pos", "get amp_scale", "phase", "phase1", "freq"]
                   + rng_reads + ["in edge_shape", "edge_shape", "amp", "pos", "width", "width"]
                   + ["in extra", "extra", "extra"])


def test_a_callable_shape_is_read_for_the_type_test_the_callable_test_and_the_call(read_log):
    log = []

    def shape(X, pd, cp):
        return wh.square(X, pd)

    p = read_log(log, pulse(10e-9, shape=shape))
    wh.pdc2pulse([p], LI)
    assert log[3:7] == ["in edge_shape", "shape", "shape", "shape"]


def test_a_shape_that_rebinds_only_the_carrier_changes_the_pulses_after_it(monkeypatch):
    monkeypatch.setattr(wh, "carrier", wh.carrier)

    def shape(X, pd, cp):
        wh.carrier = lambda X, f, ph, imb: np.ones(len(X))
        return np.zeros(len(X), complex)

    first, second = pulse(10e-9), pulse(80e-9)
    X, W, S = wh.pdc2pulse([first, pulse(40e-9, shape=shape), second], dict(N=300, srate=2e9, offset_global=0))
    a, b = wh.rng(first, 0, 2e9, 300)
    c, d = wh.rng(second, 0, 2e9, 300)
    np.testing.assert_allclose(W[a:b], S[a:b] * np.exp(2j * np.pi * 5e9 * X[a:b]), rtol=1e-12)
    assert S[c:d].any()
    np.testing.assert_array_equal(W[c:d], S[c:d])


# ---- lines larger than the caches ---------------------------------------------

def long_line(steps, gof, seed=3, N=300_001):
    """Pulses of every shape, overlapping and out of position order, on a
    line whose arrays are written past the caches, with level steps between."""
    rng = np.random.default_rng(seed)
    T = N / 2e9
    pds = [pulse(rng.uniform(-10e-9, T), shape=str(s), width=rng.uniform(5e-9, 300e-9), plateau=rng.uniform(0, 40e-9),
                 amp=rng.uniform(-1, 1), freq=rng.uniform(1e8, 6e9), drag_scale=rng.uniform(-1e-9, 1e-9),
                 drag_detuning=float(rng.choice([0.0, 1e7])))
           for s in rng.choice(SHAPES[:6], 400)]
    # One pulse long enough to merge its neighbours into a range rendered in place.
    pds.insert(200, pulse(T / 3, shape="square", width=20e-6, plateau=10e-6, drag_scale=1e-10))
    for k in range(steps):
        pds.insert(90 * k + 5, step((k + 0.5) * T / steps, 0.05 * (k + 1)))
    return pds, dict(N=N, srate=2e9, offset_global=gof)


@pytest.mark.parametrize("steps, gof", [(0, 0.0), (0, -0.0), (0, 0.1 - 0.05j), (3, 0.0), (3, 0.2j)])
def test_long_line(steps, gof, each_isa):
    pds, li = long_line(steps, gof)
    got = wh.pdc2pulse(pds, li)
    assert_line(got, ref_pdc2pulse(pds, li))
    # Into the caller's buffers at every alignment, to the last bit.
    for off in (0, 1, 3):
        W, S = np.full(li["N"] + 4, np.nan + 0j), np.full(li["N"] + 4, np.nan + 0j)
        out = (W[off:off + li["N"]], S[off:off + li["N"]])
        (X, Wl, Sl), = wh.sample_lines({"q": pds}, li, out={"q": out}).values()
        assert Wl is out[0] and Sl is out[1]
        for g, w in zip((X, Wl, Sl), got):
            np.testing.assert_array_equal(g.view(np.uint64), w.view(np.uint64))
        if gof == 0 and not np.signbit(gof):  # WaveSpec.sample rests at +0 and keeps no grid
            ws = WaveSpec(pds, 0, li["N"] / li["srate"])
            assert ws.sample(li["srate"], out=W[off:off + li["N"]]) is not None
            np.testing.assert_array_equal(W[off:off + li["N"]].view(np.uint64), got[1].view(np.uint64))


@pytest.mark.sanitize
def test_ranges_about_the_window_size_on_a_long_line():
    # A range of pulses up to 16,384 samples is worked out in a window of
    # its own, a longer one in place: each length about that bound, one
    # pulse each, well apart on a line written past the caches.
    srate, N = 2e9, 400_000
    lengths = [16_373, 16_374, 16_375, 16_376, 24_000, 32_758, 32_759]  # and the guard of five on each side
    pds, first = [], 1000
    for m in lengths:
        pds.append(pulse(first / srate, shape="hcos", width=m / srate, drag_scale=1e-10))
        first += m + 20_000
    li = dict(N=N, srate=srate, offset_global=0.02)
    spans = [b - a for a, b in (wh.rng(pd, 0, srate, N) for pd in pds)]
    assert {16_384, 16_385, 32_768, 32_769} <= set(spans)
    assert_line(wh.pdc2pulse(pds, li), ref_pdc2pulse(pds, li))
