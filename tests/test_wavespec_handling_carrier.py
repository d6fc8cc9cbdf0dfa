"""The carrier, and the vectorised transcendentals behind it and the shapes."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import reference as ref
from halvane import wavespec_handling as wh

X = np.arange(500) * 2.5e-10


# Every test runs on each vectorised path this CPU has.
pytestmark = pytest.mark.usefixtures("each_isa")


# The carrier agrees with its formula to a few ulps of its unit magnitude.
CARRIER_ROUNDING = 4e-16


# ---- carrier -------------------------------------------------------------------

def test_carrier_at_zero_frequency():
    y = wh.carrier(X, 0)
    assert np.all(y.real == np.cos(np.pi / 4) * np.sqrt(2))
    assert np.all(y.imag == -np.sin(np.pi / 4) * np.sqrt(2) * np.cos(np.pi / 2))
    assert y.imag[0] == pytest.approx(-6.1e-17, rel=0.02)


# The quadrature part is the cosine of the rounded theta + p2, so it departs
# from sin(theta) by up to the rounding of that sum.
THETA = 2 * np.pi * 4.3e9 * X
PHASE_ROUNDING = 2 * np.spacing(THETA.max())


def test_carrier_is_a_complex_exponential_without_imbalance():
    ref.assert_close(wh.carrier(X, 4.3e9), np.exp(1j * THETA), rel=PHASE_ROUNDING)


def test_carrier_with_imbalance_and_skew():
    y = wh.carrier(X, 4.3e9, imb=np.pi / 4)
    np.testing.assert_allclose(y.real, 0, atol=1e-15)
    np.testing.assert_allclose(y.imag, np.sqrt(2) * np.sin(THETA), atol=2 * PHASE_ROUNDING)
    y = wh.carrier(X, 4.3e9, ph=np.pi / 2)
    np.testing.assert_allclose(y.real, y.imag, atol=2 * PHASE_ROUNDING)


@pytest.mark.parametrize("args", [(5e9,), (5e9, 0.3), (5e9, -0.2, 0.15), (-7.1e9, 1, 2), (3, 0.5, 0.5),
                                  (np.float64(6.02e9), np.int64(0), np.float64(0.1)), (1e9, np.nan), (np.inf,)])
def test_carrier_matches_its_formula(args):
    with np.errstate(all="ignore"):
        want = ref.carrier(X, *args)
    ref.assert_close(wh.carrier(X, *args), want, rel=CARRIER_ROUNDING)


@pytest.mark.parametrize("args", [(5e9, np.inf), (5e9, -np.inf), (0, np.inf), (5e9, 0, np.inf), (5e9, 1e300)])
def test_carrier_of_a_skew_or_imbalance_beyond_range_is_the_formulas(args):
    # NaN in both parts where the formula has it: 1j * B * nan has a NaN real part.
    with np.errstate(all="ignore"):
        want = ref.carrier(X, *args)
    if not np.isfinite(args[1:]).all():
        assert np.isnan(want.real).all() and np.isnan(want.imag).all()
    ref.assert_close(wh.carrier(X, *args), want, rel=CARRIER_ROUNDING)


def test_carrier_keyword_arguments_and_defaults():
    ref.assert_close(wh.carrier(X=X, freq=2e9, imb=0.1), ref.carrier(X, 2e9, 0, 0.1), rel=CARRIER_ROUNDING)
    ref.assert_close(wh.carrier(X, 2e9, ph=0.2), ref.carrier(X, 2e9, 0.2), rel=CARRIER_ROUNDING)


# Carrier phases 2*pi*f*t reach 1e8 rad and far beyond on long windows: the
# second cosine is of the rounded theta + p2, as in the formula.
@settings(max_examples=200, deadline=None)
@given(t0=st.floats(0, 20.0), freq=st.floats(-9e9, 9e9), ph=st.floats(-4, 4), imb=st.floats(-1, 1),
       n=st.integers(0, 70))
def test_carrier_matches_its_formula_on_large_phases(t0, freq, ph, imb, n):
    Xs = t0 + np.arange(n) * 2.5e-10
    ref.assert_close(wh.carrier(Xs, freq, ph, imb), ref.carrier(Xs, freq, ph, imb), rel=CARRIER_ROUNDING)


@pytest.mark.parametrize("Xs", [np.zeros(0), np.array([1e-9]), X[::7], X.astype(np.float32), list(X[:9]),
                                np.arange(40)], ids=["empty", "one", "strided", "float32", "list", "int"])
def test_carrier_takes_any_real_sample_array(Xs):
    ref.assert_close(wh.carrier(Xs, 5.5e9, 0.1, 0.2), ref.carrier(np.asarray(Xs, dtype=np.float64), 5.5e9, 0.1, 0.2),
                     rel=CARRIER_ROUNDING)


@pytest.mark.parametrize("call, exc", [
    (lambda: wh.carrier(X), TypeError), (lambda: wh.carrier(X, 1, 2, 3, 4), TypeError),
    (lambda: wh.carrier(X, "5e9"), TypeError), (lambda: wh.carrier(X, 1e9, None), TypeError),
    (lambda: wh.carrier(X, 1e9, imb=1j), TypeError), (lambda: wh.carrier(X + 1j, 1e9), TypeError),
    (lambda: wh.carrier(np.ones((2, 2)), 1e9), ValueError)])
def test_carrier_bad_input(call, exc):
    with pytest.raises(exc):
        call()


# ---- the vectorised transcendentals against libm ----------------------------------

LIBM = {"sin": math.sin, "cos": math.cos, "exp": math.exp, "cosh": math.cosh, "tanh": math.tanh}
# Largest error against libm, in units of the last place of the libm result
# (libm's own tanh is up to about an ulp off).
ULPS = {"sin": 1, "cos": 1, "exp": 1, "cosh": 1.5, "tanh": 2}
SCALES = {"sin": [1, 1e3, 1e8, 1e12, 2.0 ** 40, 1e17], "cos": [1, 1e3, 1e8, 1e12, 2.0 ** 40, 1e17],
          "exp": [1, 50, 720, 760], "cosh": [1, 50, 712], "tanh": [0.05, 1, 30]}


def libm(fn, x):
    def one(v):
        try:
            return LIBM[fn](v)
        except OverflowError:
            return math.inf
        except ValueError:  # sin and cos of an infinity
            return math.nan
    return np.array([one(v) for v in x])


SPECIAL = np.array([0.0, -0.0, np.inf, -np.inf, np.nan, 5e-324, -1e-300, 1e-8, np.pi / 4, 0.9, 20.0, 708.0,
                    709.9, -745.0, 2.0 ** 40, np.nextafter(2.0 ** 40, np.inf), 1e300])


@pytest.mark.parametrize("fn", list(LIBM))
def test_vmath_against_libm(fn):
    rng = np.random.default_rng(11)
    for scale in SCALES[fn]:
        # Odd lengths exercise the partial vectors at the end.
        x = rng.uniform(-scale, scale, 4099)
        got, want = wh._vmath_probe(fn, x), libm(fn, x)
        ok = np.isfinite(want)
        assert np.all(np.isinf(got[~ok]) & (got[~ok] == want[~ok]))
        ulps = np.abs(got[ok] - want[ok]) / np.spacing(np.abs(want[ok]))
        assert ulps.max() <= ULPS[fn], (scale, x[ok][np.argmax(ulps)])
    got, want = wh._vmath_probe(fn, SPECIAL), libm(fn, SPECIAL)
    np.testing.assert_array_equal(np.isnan(got), np.isnan(want))
    ok = ~np.isnan(want)
    np.testing.assert_array_max_ulp(got[ok], want[ok], maxulp=int(np.ceil(ULPS[fn])))


@pytest.mark.parametrize("n", [0, 1, 3, 4, 5, 7, 8, 9, 17])
def test_vmath_cis_and_tails(n):
    x = np.random.default_rng(n).uniform(-1e9, 1e9, n)
    z = wh._vmath_probe("cis", x)
    assert z.dtype == np.complex128 and z.shape == (n,)
    np.testing.assert_allclose(z.real, libm("cos", x), rtol=0, atol=1.2e-16)
    np.testing.assert_allclose(z.imag, libm("sin", x), rtol=0, atol=1.2e-16)
