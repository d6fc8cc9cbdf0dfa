"""The Gaussian shapes 'gauss' (gaussian) and 'netzero': formulas, exact
values at the ends and on the plateau, the net-zero integral, and the driver."""

import numpy as np
import pytest

import reference as ref
from halvane import wavespec_handling as wh

pytestmark = pytest.mark.usefixtures("each_isa")


def random_pulse(rg, complex_amp):
    w = rg.uniform(1e-9, 2e-7)
    pd = dict(pos=rg.uniform(-1e-7, 1e-7), width=w, plateau=rg.choice([0.0, rg.uniform(0, 2e-7)]),
              amp=complex(*rg.normal(size=2)) if complex_amp else rg.uniform(-2, 2))
    if rg.random() < 0.7:
        pd["sigma"] = rg.uniform(w / 20, w)
    return pd


@pytest.mark.parametrize("name", ["gaussian", "netzero"])
@pytest.mark.parametrize("complex_amp", [False, True])
def test_random_pulses_match_the_formula_to_1e13_of_amp(name, complex_amp):
    rg = np.random.default_rng(18 + complex_amp)
    for _ in range(200):
        pd = random_pulse(rg, complex_amp)
        # grids that cover the pulse, or clip it at either end or both
        lo, hi = np.sort(rg.uniform(pd["pos"] - 2e-8, pd["pos"] + pd["width"] + pd["plateau"] + 2e-8, 2))
        X = lo + np.arange(rg.integers(0, 400)) * rg.uniform(1e-10, 2e-9)
        got, want = getattr(wh, name)(X, pd), getattr(ref, name)(X, pd)
        assert got.dtype == np.complex128 and got.shape == X.shape
        ref.assert_close(got / pd["amp"], want / pd["amp"], rel=1e-13)


@pytest.mark.parametrize("amp", [0.7, -0.3 + 0.45j, 1e-5j])
@pytest.mark.parametrize("width, plateau, sigma", [(4e-8, 0.0, None), (2e-8, 6e-8, None), (3e-8, 1e-8, 3e-9),
                                                   (1e-7, 2e-8, 1e-7), (7.3e-9, 0.0, 2.1e-9)])
def test_gauss_is_0_at_its_ends_and_amp_on_its_plateau(amp, width, plateau, sigma):
    pos, dt = 1.234e-7, 1e-10
    pd = dict(pos=pos, width=width, plateau=plateau, amp=amp, **({} if sigma is None else {"sigma": sigma}))
    X = pos + np.arange(-20, round((width + plateau) / dt) + 20) * dt
    X[20] = pos  # the first sample exactly at the start, the last exactly at the end
    X[-20] = pos + (width + plateau)
    y = wh.gaussian(X, pd)
    assert y[20] == 0 and y[-20] == 0 and np.all(y[:20] == 0) and np.all(y[-20:] == 0)
    u = X - pos
    on_plateau = (u >= width / 2) & (u <= width / 2 + plateau)
    assert np.all(y[on_plateau] == amp) and on_plateau.sum() >= plateau / dt - 1
    # no jump: the first step in from either end is small, and the edges rise monotonically
    assert abs(y[21]) < 0.05 * abs(amp) and abs(y[-21]) < 0.05 * abs(amp)
    rise = np.abs(y[20:][u[20:] < width / 2])
    assert np.all(np.diff(rise) > 0)


def test_gauss_plateau_is_exactly_amp_and_start_exactly_0_for_any_sigma():
    rg = np.random.default_rng(7)
    for _ in range(200):
        pd = random_pulse(rg, complex_amp=True)
        pd["plateau"] = rg.uniform(1e-9, 1e-7)
        X = pd["pos"] + np.linspace(0, pd["width"] + pd["plateau"], 101)
        u = X - pd["pos"]
        y = wh.gaussian(X, pd)
        assert y[0] == 0 and y[-1] == 0
        assert np.all(y[(u >= pd["width"] / 2) & (u <= pd["width"] / 2 + pd["plateau"])] == pd["amp"])


def test_gauss_sigma_defaults_to_a_quarter_of_the_width_and_plateau_0_is_the_lifted_gaussian():
    X = np.arange(0, 60) * 1e-9
    pd = dict(pos=1e-8, width=4e-8, plateau=0, amp=0.5)
    y = wh.gaussian(X, pd)
    np.testing.assert_array_equal(y, wh.gaussian(X, dict(pd, sigma=1e-8)))
    u = X - 3e-8  # time from the centre, where the peak is
    e0 = np.exp(-2.0)
    lifted = 0.5 * (np.exp(-u ** 2 / (2 * 1e-8 ** 2)) - e0) / (1 - e0) * ((X >= 1e-8) & (X < 5e-8))
    np.testing.assert_allclose(y.real, lifted, rtol=0, atol=1e-15)
    assert y[30] == 0.5 and np.all(y.imag == 0)


def test_gauss_narrower_than_1e_14_is_square():
    X = np.arange(0, 40) * 1e-9
    pd = dict(pos=1e-8, width=5e-15, plateau=1e-8, amp=0.5j, sigma=1e-9)
    np.testing.assert_array_equal(wh.gaussian(X, pd), wh.square(X, pd))


@pytest.mark.parametrize("seed", range(5))
def test_netzero_integral_is_0_on_the_sample_grid(seed):
    # Pulses of whole samples per half on the AWG's grid: the integral of S
    # is 0 to rounding, whatever amp, width and plateau.
    rg = np.random.default_rng(seed)
    srate = 2e9
    dt = 1 / srate
    li = dict(N=2000, srate=srate, offset_global=0.0)
    for _ in range(20):
        w, pl = 2 * rg.integers(2, 200) * dt, 2 * rg.integers(0, 200) * dt
        amp = complex(*rg.normal(size=2))
        pd = dict(shape="netzero", pos=rg.integers(10, 500) * dt, width=w, plateau=pl, amp=amp, freq=0,
                  phase=0, phase1=0)
        _, _, S = wh.pdc2pulse([pd], li)
        assert abs(S.sum() * dt) < 1e-12 * abs(amp) * (w + pl)
        assert abs(S).max() == pytest.approx(abs(amp), rel=1e-12 if pl else 0.05)


def test_netzero_halves_are_cos_pulses_of_half_the_width_and_plateau():
    X = np.arange(0, 120) * 1e-9
    pd = dict(pos=1e-8, width=4e-8, plateau=6e-8, amp=0.3 - 0.1j)
    first = wh.cosine(X, dict(pd, width=2e-8, plateau=3e-8))
    second = wh.cosine(X, dict(pd, pos=6e-8, width=2e-8, plateau=3e-8))
    ref.assert_close(wh.netzero(X, pd), first - second, rel=1e-15)
    assert np.all(wh.netzero(X, pd)[(X >= 6e-8) & (X < 1.1e-7)].real <= 0)


def test_netzero_through_a_rebound_sine_edge(monkeypatch):
    calls = []

    def edge(*args):
        calls.append(args[1:])
        return ref.sine_edge(*args)

    monkeypatch.setattr(wh, "sine_edge", edge)
    X = np.arange(0, 120) * 1e-9
    pd = dict(pos=1e-8, width=4e-8, plateau=6e-8, amp=0.3 - 0.1j)
    ref.assert_close(wh.netzero(X, pd), ref.netzero(X, pd), rel=1e-15)
    assert len(calls) == 4 and calls[2][0] == 1e-8 + (2e-8 + 3e-8) + 2e-8 / 4
    # the driver takes the same way
    li = dict(N=200, srate=1e9, offset_global=0.0)
    full = dict(pd, shape="netzero", freq=1e8, phase=0.1, phase1=0, drag_scale=1e-9)
    calls.clear()
    assert_line(wh.pdc2pulse([full], li), ref.pdc2pulse([full], li))
    assert len(calls) == 4


def assert_line(got, want):
    np.testing.assert_array_equal(got[0], want[0])
    for g, w in zip(got[1:], want[1:]):
        ref.assert_close(g, w, rel=1e-13)


@pytest.mark.parametrize("shape", ["gauss", "netzero"])
@pytest.mark.parametrize("extra", [dict(drag_scale=0.4e-9), dict(drag_scale=-2e-10, drag_list=[3e-10, 1e-11]),
                                   dict(drag_detuning=3e6, amp_scale=0.9, sigma=6e-9)])
def test_the_driver_applies_drag_detuning_and_carrier_as_to_every_shape(shape, extra):
    # Against the numpy steps of the driver with the numpy formulas of the
    # shapes, on a window that clips the first pulse.
    li = dict(N=300, srate=2e9, offset_global=0.05, st=10e-9)
    pds = [dict(shape=shape, pos=0.0, width=3e-8, plateau=1e-8, amp=0.4 + 0.2j, freq=2e8, phase=0.3, phase1=-0.1,
                **extra),
           dict(shape=shape, pos=6e-8, width=2.4e-8, plateau=0, amp=-0.6, freq=1.5e8, phase=0, phase1=0, **extra)]
    assert_line(wh.pdc2pulse(pds, li), ref.pdc2pulse(pds, li))


# Degenerate descriptions: NaN and infinity where the formula has them, and
# no exception.
@pytest.mark.parametrize("name, kw", [
    ("gaussian", dict(sigma=np.nan)), ("gaussian", dict(sigma=np.inf)),
    ("gaussian", dict(sigma=-1e-8)), ("gaussian", dict(amp=np.inf)), ("gaussian", dict(pos=np.nan)),
    ("gaussian", dict(width=np.nan)), ("gaussian", dict(plateau=np.inf)), ("gaussian", dict(sigma=1e-12)),
    ("netzero", dict(amp=complex(np.inf, 1))), ("netzero", dict(pos=np.nan)), ("netzero", dict(width=3e-14)),
    ("netzero", dict(plateau=np.nan))])
def test_degenerate_pulses_give_what_the_formula_gives(name, kw):
    X = np.arange(0, 80) * 1e-9
    pd = dict(dict(pos=1e-8, width=4e-8, plateau=1e-8, amp=0.5), **kw)
    with np.errstate(all="ignore"):
        want = getattr(ref, name)(X, pd)
    ref.assert_close(getattr(wh, name)(X, pd), want, rel=1e-13)


@pytest.mark.parametrize("sigma", [0, 0.0, -0.0, 1e-170])
def test_gauss_with_2_sigma_squared_0_raises_as_the_formula_does(sigma):
    X = np.arange(0, 80) * 1e-9
    pd = dict(pos=1e-8, width=4e-8, plateau=1e-8, amp=0.5, sigma=sigma)
    with pytest.raises(ZeroDivisionError):
        ref.gaussian(X, pd)
    with pytest.raises(ZeroDivisionError, match=r"'gauss' divides by 2 \* sigma\*\*2, which is 0"):
        wh.gaussian(X, pd)
    full = dict(pd, shape="gauss", freq=0, phase=0, phase1=0)
    with pytest.raises(ZeroDivisionError) as e:
        wh.pdc2pulse([full], dict(N=100, srate=1e9, offset_global=0))
    assert e.value.__notes__ == ["while sampling entry #0 (pulse, shape 'gauss', pos 1e-08 s)"]
