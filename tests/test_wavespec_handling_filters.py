"""Pre-distortion filters: cal_iir_coef, IIR_filtering, FIR_filtering, fix."""

import numpy as np
import pytest

import reference as ref
from halvane import wavespec_handling as wh

RNG = np.random.default_rng(7)
X = np.linspace(0, 1e-6, 200, endpoint=False)
Y_REAL = RNG.normal(size=200)
Y_CPLX = RNG.normal(size=200) + 1j * RNG.normal(size=200)


@pytest.mark.parametrize("model", [[0.9, 0.1, 2e-7, 5e-10], [1.2, -0.3, 1e-8, 1e-9], [1, 0, 3e-7, 5e-10]])
def test_cal_iir_coef_is_the_bilinear_formula(model):
    assert wh.cal_iir_coef(model) == pytest.approx(ref.cal_iir_coef(model), rel=1e-15, abs=1e-15)


def test_cal_iir_coef_without_exponential_part_is_an_identity_stage():
    b0, b1, a1 = np.array(wh.cal_iir_coef([1, 0, 3e-7, 5e-10])) + [1, -1, 1]
    assert b0 == pytest.approx(1) and a1 == pytest.approx(-b1)
    np.testing.assert_allclose(wh.fix(X, Y_REAL, [wh.cal_iir_coef([1, 0, 3e-7, 5e-10])], None), Y_REAL,
                               rtol=0, atol=1e-12)


@pytest.mark.parametrize("arg, exc, msg", [
    ([1, 2, 3], ValueError, "not enough values to unpack (expected 4, got 3)"),
    ([1, 2, 3, 4, 5], ValueError, "too many values to unpack (expected 4)"),
    (5, TypeError, "cannot unpack non-iterable int object"),
    ([0, 0, 1, 1], ZeroDivisionError, "division by zero"),
])
def test_cal_iir_coef_errors(arg, exc, msg):
    with pytest.raises(exc, match=f"^{msg}".replace("(", r"\(").replace(")", r"\)")):
        wh.cal_iir_coef(arg)


@pytest.mark.parametrize("coefs", [(0.9, -0.4, 0.7), (1, 0, 0), (1.1 + 0.2j, -0.5, 0.3 - 0.1j),
                                   (np.float64(0.5), np.float64(0.2), np.float64(-0.9))])
@pytest.mark.parametrize("y", [Y_REAL, Y_CPLX, Y_CPLX[::3], Y_REAL[:0], Y_REAL[:1]])
def test_iir_filtering_matches_lfilter(coefs, y):
    before = y.copy()
    got = wh.IIR_filtering(*coefs, [X, y])
    want = ref.iir_filtering(*coefs, y)
    assert got.dtype == want.dtype and got.shape == want.shape
    np.testing.assert_allclose(got, want, rtol=1e-12, atol=1e-12 * max(1, np.abs(want).max(initial=0)))
    np.testing.assert_array_equal(y, before)


@pytest.mark.parametrize("y", [list(Y_REAL[:5]), Y_REAL.astype(np.float32), np.arange(6)])
def test_iir_filtering_of_other_inputs_is_lfilters(y):
    np.testing.assert_array_equal(wh.IIR_filtering(0.9, -0.4, 0.7, [X, y]), ref.iir_filtering(0.9, -0.4, 0.7, y))


def test_iir_filtering_calls_a_rebound_lfilter(monkeypatch):
    calls = []

    def fake(b, a, x, axis, zi):
        calls.append((b, a, x, axis, zi))
        return [1.0, 2.0], None

    monkeypatch.setattr(wh, "lfilter", fake)
    out = wh.IIR_filtering(0.5, 0.25, 0.125, [X, Y_REAL])
    (b, a, x, axis, zi), = calls
    assert b == [0.5, 0.25] and a == [1, -0.125] and x is Y_REAL and axis == -1
    np.testing.assert_array_equal(zi, np.zeros(1))
    assert isinstance(out, np.ndarray) and out.tolist() == [1.0, 2.0]


FIR_CASES = [([1, 1], 0, 1), ([0.5, -0.25, 0.125], 0.1, 2), ([1], 0, 1), ([1.0] * 30, 0.9, 0.5),
             ([0.3, 0.7], -0.01, 1.5)]


@pytest.mark.parametrize("b, start_time, adjust, y", [c + (Y_REAL,) for c in FIR_CASES]
                         + [c + (Y_CPLX,) for c in FIR_CASES] + [([2.0, 1.0], 0.5, 1j, Y_CPLX)])
def test_fir_filtering_matches_the_loop(b, start_time, adjust, y):
    before = y.copy()
    got = wh.FIR_filtering(b, start_time, adjust, [X, y])
    want = ref.fir_filtering(b, start_time, adjust, X, y)
    assert got.dtype == y.dtype
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=1e-14)
    np.testing.assert_array_equal(y, before)


def test_fir_two_taps_by_hand():
    x, y = np.arange(4.0), np.array([1.0, 2.0, 4.0, 8.0])
    assert wh.FIR_filtering([1, 1], 0, 1, [x, y]).tolist() == [1.0, 3.0, 4.0, 8.0]
    # A window reaching the end filters the last sample too.
    assert wh.FIR_filtering([1, 1, 1, 1, 1], 0, 1, [x, y]).tolist() == [1.0, 3.0, 7.0, 15.0]


@pytest.mark.parametrize("start_time, want", [
    (0, [0, 1, 2, 3, 4, 5, 6, 7, 8, 9]),
    (4, [0, 1, 2, 3, 4, 9, 6, 7, 8, 9]),   # the sample at 4 us is index 4
    (8, [0, 1, 2, 3, 4, 5, 6, 7, 8, 17]),  # the last sample is filtered
    (9, [0, 1, 2, 3, 4, 5, 6, 7, 8, 9]),   # a window from the last sample keeps only it
])
def test_fir_start_time_maps_to_the_sample_at_that_time(start_time, want):
    X, y = np.arange(10) * 1e-6, np.arange(10.0)
    assert wh.FIR_filtering([1, 1], start_time, 1, [X, y]).tolist() == want


@pytest.mark.parametrize("n", [0, 1])
def test_fir_needs_two_samples_for_its_period(n):
    with pytest.raises(ValueError, match=f"^FIR_filtering: the sample period needs at least two samples, got {n}$"):
        wh.FIR_filtering([1], 0, 1, [X[:n], Y_REAL[:n]])


PERIOD = (X[-1] - X[0]) / (len(X) - 1)


@pytest.mark.parametrize("start_time, msg", [
    (2.0, f"index {int(2e-6 / PERIOD)} is out of bounds for axis 0 with size 200"),
    (-2.0, f"index {int(-2e-6 / PERIOD)} is out of bounds for axis 0 with size 200"),
    (1e30, "cannot fit 'int' into an index-sized integer"),
])
def test_fir_window_outside_the_array_raises_index_error(start_time, msg):
    with pytest.raises(IndexError, match=f"^{msg}$"):
        wh.FIR_filtering([1, 1], start_time, 1, [X, Y_REAL])


def test_fir_window_past_a_shorter_sample_array_raises_index_error():
    with pytest.raises(IndexError, match="^index 10 is out of bounds for axis 0 with size 10$"):
        wh.FIR_filtering([1.0] * 20, 0.0, 1, [X, Y_REAL[:10]])


def test_fix_without_stages_copies():
    out = wh.fix(X, Y_CPLX, None, None)
    assert out is not Y_CPLX
    np.testing.assert_array_equal(out, Y_CPLX)
    np.testing.assert_array_equal(wh.fix(X, Y_CPLX, None, ([1], 0, 1)), Y_CPLX)


def test_fix_runs_iir_stages_in_order_then_fir():
    m1, m2 = wh.cal_iir_coef([0.9, 0.1, 2e-7, 5e-9]), wh.cal_iir_coef([1.05, -0.08, 4e-8, 5e-9])
    fir = ([0.9, 0.1], 0.2, 1.0)
    want = Y_CPLX
    for F in (m1, m2):
        want = ref.iir_filtering(*(np.array(F) + [1, -1, 1]), want)
    want = ref.fir_filtering(*fir, X, want)
    got = wh.fix(X, Y_CPLX, [m1, m2], fir)
    np.testing.assert_allclose(got, want, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(wh.fix(X, Y_CPLX, [m2, m1], fir), got, rtol=1e-12, atol=1e-12)
    np.testing.assert_array_equal(wh.fix(X, Y_CPLX, [], fir), wh.fix(X, Y_CPLX, None, fir))


def test_fix_looks_up_the_stages_at_call_time(monkeypatch):
    seen = []
    monkeypatch.setattr(wh, "IIR_filtering", lambda b0, b1, a1, w: seen.append(("iir", b0, b1, a1, w)) or w[1] + 1)
    monkeypatch.setattr(wh, "FIR_filtering", lambda b, t, g, w: seen.append(("fir", b, t, g, w)) or w[1] * 2)
    out = wh.fix(X, Y_REAL, [[0.5, 0.5, 0.5]], ([1], 0, 3))
    np.testing.assert_array_equal(out, (Y_REAL + 1) * 2)
    (tag, b0, b1, a1, w), (tag2, b, t, g, w2) = seen
    assert (b0, b1, a1) == (1.5, -0.5, 1.5) and w[0] is X and w[1] is not Y_REAL
    assert (b, t, g) == ([1], 0, 3) and isinstance(w2, list)


@pytest.mark.parametrize("iir, fir, exc", [([[1, 2]], None, ValueError), (None, ([1], 0), ValueError),
                                           (5, None, TypeError)])
def test_fix_bad_stages(iir, fir, exc):
    with pytest.raises(exc):
        wh.fix(X, Y_REAL, iir, fir)


def test_fir_complex_gain_on_real_samples_keeps_the_real_part_with_numpys_warning():
    with pytest.warns(np.exceptions.ComplexWarning):
        got = wh.FIR_filtering([2.0, 1.0], 0.5, 1 + 1j, [X, Y_REAL])
    with pytest.warns(np.exceptions.ComplexWarning):
        want = ref.fir_filtering([2.0, 1.0], 0.5, 1 + 1j, X, Y_REAL)
    assert got.dtype == np.float64
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=1e-14)


def test_fir_reads_a_tap_and_the_input_sequence_for_every_term():
    reads = []

    class Seq(list):
        def __init__(self, name, items):
            super().__init__(items)
            self.name = name

        def __getitem__(self, k):
            reads.append((self.name, k))
            return super().__getitem__(k)

    X = np.linspace(0, 1e-6, 20, endpoint=False)
    Y = np.arange(20.0)
    # 0.1 us over a period of (X[-1] - X[0]) / 20 starts the window at index 2.
    out = wh.FIR_filtering(Seq("b", [1, 2]), 0.1, 3, Seq("w", [X, Y]))
    assert reads == [("w", 1), ("w", 0), ("b", 0), ("w", 1), ("b", 0), ("w", 1), ("b", 1), ("w", 1)]
    want = Y.copy()
    want[2] = 3 * Y[2]
    want[3] = 3 * Y[3] + 6 * Y[2]
    np.testing.assert_array_equal(out, want)


# ---- long signals: the blocked recursion, and where it hands over ----------

LONG = 5 * 1024 + 77  # several blocks of samples and a tail
X_LONG = np.arange(LONG) * 5e-10
Y_LONG = RNG.normal(size=LONG) + 1j * RNG.normal(size=LONG)


def with_values(y, at, values):
    y = y.copy()
    y[at] = values
    return y


@pytest.mark.parametrize("coefs", [
    (0.9, -0.4, 0.7), (1.0003, -0.9997, 0.9994),      # the driver's kind: a1 close to 1
    (0.5, 0.2, -0.99), (0, 0, 0.5), (1, 0, 0),
    (0.9, -0.4, 1.5), (0.9, -0.4, -1.2), (0.7, 0.1, 1.0005),  # unstable: grows, overflows
    (1.1 + 0.2j, -0.5, 0.3 - 0.1j), (0.9, -0.4, 1.3 + 0.2j),   # complex coefficients
])
@pytest.mark.parametrize("y", [
    Y_LONG, Y_LONG[::-1], RNG.normal(size=3 * LONG)[::3] + 0j, Y_LONG.real.copy(),
    with_values(Y_LONG, [1500, 4100], [np.inf, complex(np.nan, 1)]),
    with_values(Y_LONG, [2047, 3000], [complex(1, -np.inf), complex(-np.inf, np.inf)]),
    with_values(Y_LONG, [LONG - 3], [np.nan]),
    with_values(Y_LONG.real.copy(), [2100, 4500], [-np.inf, np.nan]), RNG.normal(size=2 * LONG)[::2],
])
def test_long_signals_match_lfilter_with_the_same_nan_and_infinity(coefs, y):
    ref.assert_close(wh.IIR_filtering(*coefs, [X_LONG, y]), ref.iir_filtering(*coefs, y))


@pytest.mark.parametrize("models", [[[0.95, 0.05, 3e-7, 5e-10], [1.02, -0.02, 2e-8, 5e-10]],
                                    [[1, 0.3, 1e-6, 5e-10]] * 6,  # more stages than one pass takes
                                    [[0.5, -1.2, 1e-9, 5e-10]]])  # unstable (|a1| > 1)
@pytest.mark.parametrize("steps", [[], [dict(edge_shape="sine_edge", pos=1.66e-6, width=4e-9, plateau=0, amp=np.inf)]])
def test_driver_stages_on_long_lines_match_lfilter(models, steps):
    def ref_chain(w):
        for m in models:
            w = ref.iir_filtering(*(np.array(ref.cal_iir_coef(m)) + [1, -1, 1]), w)
        return w

    ref.assert_close(wh.fix(X_LONG, Y_LONG, [wh.cal_iir_coef(m) for m in models], None), ref_chain(Y_LONG))
    # A line of pulses (and a step to an infinite level): the stages run
    # over W minus the resting level.
    rest = 0.25 + 0.5j
    li = dict(N=LONG, srate=2e9, offset_global=rest)
    pds = [dict(shape="cos", pos=k * 50e-9, width=40e-9, plateau=0, amp=0.5, phase=k, phase1=0, freq=1e8)
           for k in range(55)] + steps
    with np.errstate(invalid="ignore"):
        _, W, _ = wh.pdc2pulse(pds, li)
        _, got, _ = wh.pdc2pulse(pds, dict(li, extra={str(k): m for k, m in enumerate(models)}))
        ref.assert_close(got, ref_chain(W - rest) + rest)
