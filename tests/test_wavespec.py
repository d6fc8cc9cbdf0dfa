"""WaveSpec: one line's pulses, shifted with << and sampled over [start, stop)."""

import copy
import pickle

import numpy as np
import pytest

from halvane import wavespec, wavespec_handling
from halvane.wavespec import WaveSpec


def pulse(pos, amp=0.5):
    return dict(shape="cos", pos=pos, width=20e-9, plateau=0.0, amp=amp, freq=5e9, phase=0.0, phase1=0.0)


def test_defaults_and_shared_list():
    pds = [pulse(0)]
    ws = WaveSpec(pds)
    assert ws.pds is pds and ws.start == 0 and ws.stop == 50e-6 and ws.offset_global == 0 and ws.extra is None
    assert not hasattr(ws, "sample_rate") and not hasattr(ws, "li")


def test_shift_moves_every_pulse_in_place_and_returns_none():
    pds = [pulse(0), pulse(1e-7)]
    shared = pds[1]
    ws = WaveSpec(pds)
    assert (ws << 1e-6) is None
    assert [p["pos"] for p in pds] == [1e-6, 1e-7 + 1e-6] and shared is pds[1]


def test_shift_stops_at_an_entry_without_pos():
    pds = [pulse(0), {"amp": 1}, pulse(0)]
    with pytest.raises(KeyError, match="'pos'"):
        WaveSpec(pds) << 1.0
    assert [p.get("pos") for p in pds] == [1.0, None, 0]


@pytest.mark.parametrize("start, stop, rate, n", [
    (0, 50e-6, 2e9, 100000), (0, 50e-6, 1e9, 50000), (1e-6, 1.1e-6, 2.4e9, 240), (0, 1e-8, 3e8, 3),
    (-1e-7, 0, 1e9, 100), (0, 1.5e-9, 1e9, 2), (1e-6, 0, 1e9, 0)])
def test_sample_covers_exactly_the_window(start, stop, rate, n):
    ws = WaveSpec([pulse(start + 2e-9)], start, stop)
    W = ws.sample(rate)
    X, W2, S = wavespec_handling.pdc2pulse(ws.pds, ws.li)
    assert ws.li == {"st": start, "N": n, "srate": rate, "offset_global": 0}
    assert len(W) == n and W.dtype == np.complex128
    np.testing.assert_array_equal(W, W2)
    if n:
        assert X[0] == start and X[-1] < stop <= start + n / rate * (1 + 1e-12)


def test_rate_is_remembered_and_resting_level_and_extra_pass_through():
    iir = {"a": [0.95, 0.05, 3e-7, 5e-10]}
    ws = WaveSpec([pulse(1e-7)], 0, 1e-6, offset_global=0.2, extra=iir)
    W1 = ws.sample(2e9, chunk_size=7, function_lib="x")
    W2 = ws.sample()
    assert ws.sample_rate == 2e9 and ws.li["srate"] == 2e9 and ws.li["extra"] is iir
    np.testing.assert_array_equal(W1, W2)
    np.testing.assert_array_equal(W1, wavespec_handling.pdc2pulse(ws.pds, dict(ws.li))[1])
    ws.offset_global = -0.3
    assert ws.sample()[0] == pytest.approx(-0.3)


def test_sample_without_any_rate():
    ws = WaveSpec([])
    with pytest.raises(AttributeError, match="sample_rate"):
        ws.sample()
    assert not hasattr(ws, "li")


def test_sample_does_not_change_the_pulses():
    pds = [pulse(1e-7), pulse(3e-7, amp=0.1j)]
    before = copy.deepcopy(pds)
    WaveSpec(pds, 0, 1e-6).sample(1e9)
    assert pds == before


def test_driver_is_looked_up_at_call_time(monkeypatch):
    calls = []

    class Fake:
        @staticmethod
        def pdc2pulse(pds, li):
            calls.append((pds, li))
            return 1, "W", 3

    ws = WaveSpec([pulse(0)], 0, 1e-7)
    monkeypatch.setattr(wavespec, "pulse_compute", Fake)
    assert ws.sample(1e9) == "W"
    assert calls == [(ws.pds, ws.li)]
    monkeypatch.setattr(Fake, "pdc2pulse", staticmethod(lambda pds, li: (1, 2)))
    with pytest.raises(ValueError, match="not enough values to unpack"):
        ws.sample()


def test_is_an_ordinary_class():
    class Mixin:
        pass

    class Line(Mixin, WaveSpec):
        pass

    ws = Line([pulse(0)], 0, 1e-7)
    ws.sample(1e9)
    clone = pickle.loads(pickle.dumps(WaveSpec([pulse(0)], 0, 1e-7)))
    assert clone.pds == [pulse(0)] and vars(ws).keys() >= {"pds", "start", "stop", "li", "sample_rate"}


def test_a_rate_is_stored_only_when_it_compares_unequal_to_none():
    class Rate(float):
        def __ne__(self, other):
            return False

    w = WaveSpec([], 0, 10e-9)
    w.sample(1e9)
    w.sample(Rate(5e8))
    assert w.sample_rate == 1e9 and w.li["srate"] == 1e9


# ---- sampling into the caller's array ---------------------------------------

OUT_LINE = [pulse(k * 30e-9, amp=0.1 * k) for k in range(12)] + [
    dict(edge_shape="sine_edge", pos=200e-9, width=4e-9, plateau=0, amp=0.3)]


@pytest.mark.parametrize("extra", [None, {"a": [0.95, 0.05, 3e-7, 5e-10]}])
@pytest.mark.parametrize("rest", [0, 0.1 - 0.2j])
def test_sample_into_out_is_bit_identical_and_returns_it(extra, rest):
    ws = WaveSpec(OUT_LINE, stop=400e-9, offset_global=rest, extra=extra)
    out = np.full(800, np.nan + 0j)
    assert ws.sample(2e9, out=out) is out
    np.testing.assert_array_equal(out, ws.sample(2e9))
    assert ws.li["N"] == 800


def test_sample_into_out_through_a_rebound_driver(monkeypatch):
    seen = []

    def driver(pds, li):
        seen.append(li["N"])
        return None, np.arange(li["N"]) + 1j, None

    monkeypatch.setattr(wavespec.pulse_compute, "pdc2pulse", driver)
    out = np.zeros(8, complex)
    assert WaveSpec([], stop=4e-9).sample(2e9, out=out) is out
    np.testing.assert_array_equal(out, np.arange(8) + 1j)
    assert seen == [8]


def _read_only(n):
    a = np.zeros(n, complex)
    a.flags.writeable = False
    return a


class LongerThanItIs(np.ndarray):
    def __len__(self):
        return 8


class ComplexAsItClaims(np.ndarray):
    @property
    def dtype(self):
        return np.dtype(complex)


@pytest.mark.parametrize("out, exc, msg", [
    ([0j] * 8, TypeError, "out must be a complex128 numpy array, not list"),
    # Judged by its memory: a subclass's len() or dtype does not make room.
    (np.zeros(2, complex).view(LongerThanItIs), ValueError, r"out must have exactly 8 samples \(the window's length\), not 2"),
    (np.zeros(8).view(ComplexAsItClaims), TypeError, "out must be a complex128 numpy array, not an array of dtype float64"),
    (np.zeros(8), TypeError, "out must be a complex128 numpy array, not an array of dtype float64"),
    (np.zeros(8, np.complex64), TypeError, "not an array of dtype complex64"),
    (np.zeros(8, ">c16"), TypeError, "out must be a complex128 numpy array"),
    (_read_only(8), ValueError, "out must be writeable, not read-only"),
    (np.zeros((2, 4), complex), ValueError, r"out must be one-dimensional, not of shape \(2, 4\)"),
    (np.zeros(9, complex), ValueError, r"out must have exactly 8 samples \(the window's length\), not 9"),
    (np.zeros(16, complex)[::2], ValueError, "out must be contiguous and aligned"),
])
def test_sample_refuses_an_out_that_does_not_fit(out, exc, msg):
    ws = WaveSpec([pulse(0)], stop=4e-9)
    with pytest.raises(exc, match=msg):
        ws.sample(2e9, out=out)
