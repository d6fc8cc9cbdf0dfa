"""Time-grid helpers: rng, grad, fr, nr, mn, mpdc."""

from fractions import Fraction

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import reference as ref
from halvane import wavespec_handling as wh


# ---- rng -----------------------------------------------------------------------

def test_rng_hand_worked():
    assert wh.rng(dict(pos=2e-7, width=6e-9, plateau=4e-9), 2e-7, 1e9, 100) == (0, 15)
    assert wh.rng(dict(pos=3.7e-9, width=1e-8, plateau=0), 0, 1e9, 100) == (0, 18)
    assert wh.rng(dict(pos=5e-7, width=1e-8, plateau=0), 0, 1e9, 100) == (495, 100)


@settings(max_examples=300, deadline=None)
@given(pos=st.floats(-1e-5, 1e-5), width=st.floats(0, 1e-6), plateau=st.floats(0, 1e-6),
       st_=st.floats(-1e-5, 1e-5), srate=st.floats(1e6, 1e10), N=st.integers(0, 10**6))
def test_rng_matches_its_formula(pos, width, plateau, st_, srate, N):
    pd = dict(pos=pos, width=width, plateau=plateau)
    got = wh.rng(pd, st_, srate, N)
    assert got == ref.rng(pd, st_, srate, N) and all(type(v) is int for v in got)


@pytest.mark.parametrize("pos, width, srate, N", [
    (0.0, 1.0, 1e200, 400),                      # a pulse that covers the window many times over
    (2.0**62, 2.0**62, 1.0, 400),                # a + b beyond 2^63
    (2.0**61 + 2048, 1.0, 1.0, 400),             # just past the 64-bit fast range
    (-(2.0**62), 2.0**63, 1.0, 400),             # from far before the window to past its end
    (-(2.0**62), 2.0**62 + 2048, 1.0, 10**30),   # ends inside a huge window
    (1e300, 1e300, 1.0, 10**400),                # and beyond 2^1000
    (-1e300, 0.0, 1.0, 400),
])
def test_rng_is_exact_far_from_the_window(pos, width, srate, N):
    pd = dict(pos=pos, width=width, plateau=0.0)
    got = wh.rng(pd, 0, srate, N)
    assert got == ref.rng(pd, 0, srate, N) and all(type(v) is int for v in got)


@pytest.mark.parametrize("args", [
    (dict(pos=1, width=2, plateau=3), 0, 10, 1000),
    (dict(pos=np.float64(2e-8), width=np.float32(1e-8), plateau=np.int64(0)), 0.0, np.float64(1e9), 50),
    (dict(pos=2e-8, width=1e-8, plateau=0), 0.0, 1e9, np.int64(20)),
    (dict(pos=2e-8, width=1e-8, plateau=0), 0.0, 1e9, 30.0),
])
def test_rng_number_types(args):
    got, want = wh.rng(*args), ref.rng(*args)
    assert got == want and [type(v) for v in got] == [type(v) for v in want]


@pytest.mark.parametrize("pd, key", [(dict(pos=0, plateau=0), "width"), (dict(pos=0, width=0), "plateau"),
                                     (dict(width=0), "plateau"), (dict(width=0, plateau=0), "pos")])
def test_rng_missing_keys(pd, key):
    with pytest.raises(KeyError) as e:
        wh.rng(pd, 0, 1e9, 10)
    assert e.value.args == (key,)


@pytest.mark.parametrize("pd, exc, msg", [
    (dict(pos=np.nan, width=0, plateau=0), ValueError, "cannot convert float NaN to integer"),
    (dict(pos=0, width=np.inf, plateau=0), OverflowError, "cannot convert float infinity to integer"),
    (dict(pos="a", width=0, plateau=0), TypeError, None)])
def test_rng_bad_values(pd, exc, msg):
    with pytest.raises(exc, match=msg):
        wh.rng(pd, 0, 1e9, 10)


# ---- grad ----------------------------------------------------------------------

@pytest.mark.parametrize("sh", [
    np.array([3.0 + 1j]), np.array([1.0, 4.0]), np.array([1 + 2j, -3 + 0.5j]), np.linspace(0, 1, 7) ** 2,
    np.exp(1j * np.linspace(0, 3, 50)), np.exp(1j * np.linspace(0, 3, 50))[::2], np.arange(5),
    np.zeros(0), [1.0, 2.0, 4.0], np.array([0, complex(np.inf, 0), 0, 0, np.nan]), np.ones((3, 2))],
    ids=["one", "two-real", "two-complex", "real", "complex", "strided", "int", "empty", "list", "nonfinite",
         "2-d"])
def test_grad_matches_numpy(sh):
    with np.errstate(all="ignore"):
        got, want = wh.grad(sh), ref.grad(sh)
    if isinstance(want, (list, tuple)):
        assert len(got) == len(want) and all(np.array_equal(g, w) for g, w in zip(got, want))
        return
    assert type(got) is type(want) and np.asarray(got).dtype == np.asarray(want).dtype
    np.testing.assert_array_equal(got, want)


def test_grad_edge_cases_by_hand():
    np.testing.assert_array_equal(wh.grad(np.array([2.5 + 1j])), [0j])
    np.testing.assert_array_equal(wh.grad(np.array([1.0, 4.0])), [3.0, 3.0])
    with pytest.raises(TypeError):
        wh.grad(3.0)


# ---- fr, mn --------------------------------------------------------------------

@pytest.mark.parametrize("args, want", [((5, 3, 1), 3), ((0, 3, 1), 1), ((2, 1, 3), 3), ((2.5, 3, 1), 2.5),
                                        ((Fraction(7, 2), 3, 1), 3)])
def test_fr_clamps_and_returns_an_argument(args, want):
    got = wh.fr(*args)
    assert got == want and type(got) is type(want)


@pytest.mark.parametrize("A, B", [(1, 2), (2, 1), (3, 3.0), (np.float64(1.5), 1), ("b", "a"), (np.nan, 1.0),
                                  (1.0, np.nan)])
def test_mn_is_min_and_max_of_the_arguments(A, B):
    got, want = wh.mn(A, B), (min(A, B), max(A, B))
    assert type(got) is tuple and all(g is w for g, w in zip(got, want))


def test_mn_and_fr_raise_the_interpreters_errors():
    with pytest.raises(TypeError):
        wh.mn(1, "a")
    with pytest.raises(ValueError):  # truth value of an array
        wh.fr(np.arange(3), 1, 0)


# ---- nr ------------------------------------------------------------------------

@pytest.mark.parametrize("w", [np.array([3.0, 1.0, 2.0, 5.0]), np.linspace(-1, 1, 9)[::2], np.arange(6),
                               [1.0, 4.0, 2.0], np.array([1 + 1j, 2 - 1j]), np.array([np.nan, 1.0, 2.0]),
                               np.array([1.0, np.inf])], ids=["real", "strided", "int", "list", "complex", "nan",
                                                              "inf"])
def test_nr_matches_its_formula(w):
    with np.errstate(all="ignore"):
        want = (w - np.min(w)) / (np.max(w) - np.min(w))
        got = wh.nr(w)
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(got, want)


def test_nr_of_equal_elements_is_nan_and_of_nothing_an_error():
    assert np.all(np.isnan(wh.nr(np.full(4, 2.0))))
    with pytest.raises(ValueError):
        wh.nr(np.zeros(0))


# ---- mpdc ----------------------------------------------------------------------

def test_mpdc_merges_in_order_without_copying_descriptions():
    p1, p2, p3 = {"pos": 1}, {"pos": 2}, {"pos": 3}
    a, b = {"L": [p1]}, {"L": [p2], "M": (p3,)}
    got = wh.mpdc(a, b)
    assert list(got) == ["L", "M"] and got["L"] == [p1, p2] and got["M"] == [p3]
    assert got["L"][0] is p1 and got["M"][0] is p3
    assert a == {"L": [p1]} and a["L"] is not got["L"] and b["M"] == (p3,)
    assert wh.mpdc() == {}


def test_mpdc_errors():
    with pytest.raises(TypeError):
        wh.mpdc(x={"L": []})
    with pytest.raises(AttributeError):
        wh.mpdc([("L", [])])
