"""sample_lines: many lines in one call, each exactly what pdc2pulse gives."""

import itertools
import os

import numpy as np
import pytest

from halvane import wavespec_handling as wh
from halvane.wavespec import WaveSpec


def pulse(pos, shape="cos", **kw):
    return dict(dict(shape=shape, pos=pos, width=30e-9, plateau=0.0, amp=0.5, freq=5e9, phase=0.3, phase1=0.0),
                **kw)


def step(pos, amp):
    return dict(edge_shape="sine_edge", pos=pos, width=4e-9, plateau=0, amp=amp)


LINES = {
    "q0_xy": [pulse(k * 40e-9, drag_scale=2e-10, phase=k) for k in range(40)],
    "q0_z": [step(100e-9, 0.3), pulse(300e-9, shape="square", freq=0), step(900e-9, -0.1)],
    "q1_xy": [pulse(50e-9, shape="hcos", drag_list=[1e-10], drag_detuning=3e6),
              pulse(400e-9, shape=lambda X, pd, cp: np.sin(X * 1e8) + 0j)],
    "q1_m": [],
    7: [pulse(-20e-9, amp=0.2j), pulse(1.5e-6)],
}
RECORD = dict(N=2000, srate=2e9, offset_global=0.05, extra={"a": [0.95, 0.05, 3e-7, 5e-10]})
PER_LINE = {name: dict(RECORD, N=1000 + 100 * k, offset_global=0.1 * k, st=-5e-9 * k)
            for k, name in enumerate(LINES)}


def assert_lines(got, lines, record_of):
    assert list(got) == list(lines)
    for name, result in got.items():
        want = wh.pdc2pulse(lines[name], record_of(name))
        assert len(result) == 3
        for g, w in zip(result, want):
            assert g.dtype == w.dtype
            np.testing.assert_array_equal(g, w)  # to the last bit


@pytest.mark.parametrize("threads", [None, 1, 2, 3, 64])
def test_one_record_for_all_lines(threads):
    assert_lines(wh.sample_lines(LINES, RECORD, threads=threads), LINES, lambda name: RECORD)


def test_a_record_per_line():
    assert_lines(wh.sample_lines(LINES, PER_LINE, threads=2), LINES, PER_LINE.__getitem__)


def test_out_buffers_are_written_and_returned():
    out = {"q0_z": (np.full(2000, np.nan + 0j), np.full(2000, np.nan + 0j)),
           7: [np.empty(2000, complex), np.empty(2000, complex)]}
    got = wh.sample_lines(LINES, RECORD, out=out)
    for name, (W, S) in out.items():
        assert got[name][1] is W and got[name][2] is S
    assert_lines(got, LINES, lambda name: RECORD)


def test_rebound_collaborator_sends_every_line_through_pdc2pulse(monkeypatch):
    calls = []
    original = wh.pdc2pulse

    def recording(pds, li):
        calls.append((pds, li))
        return original(pds, li)

    monkeypatch.setattr(wh, "pdc2pulse", recording)
    got = wh.sample_lines(LINES, PER_LINE)
    assert [(id(p), id(li)) for p, li in calls] == [(id(LINES[n]), id(PER_LINE[n])) for n in LINES]
    monkeypatch.setattr(wh, "pdc2pulse", original)
    assert_lines(got, LINES, PER_LINE.__getitem__)


def test_rebinding_while_parsing_is_seen_by_the_lines_after_it(monkeypatch):
    def doubled(X, f, ph=0, imb=0):
        return 2 * np.exp(2j * np.pi * f * X)

    def rebinding_shape(X, pd, cp):
        monkeypatch.setattr(wh, "carrier", doubled)
        return np.ones(len(X), complex)

    lines = {"a": [pulse(0)], "b": [pulse(0, shape=rebinding_shape)], "c": [pulse(0)]}
    got = wh.sample_lines(lines, RECORD)
    monkeypatch.undo()
    plain = wh.pdc2pulse([pulse(0)], RECORD)[1]
    np.testing.assert_array_equal(got["a"][1], plain)
    monkeypatch.setattr(wh, "carrier", doubled)
    np.testing.assert_array_equal(got["c"][1], wh.pdc2pulse([pulse(0)], RECORD)[1])
    assert not np.array_equal(got["c"][1], plain)


def _tasks():
    return len(os.listdir("/proc/self/task"))


@pytest.mark.parametrize("lines, li, exc, match, note", [
    ([["q", []]], RECORD, TypeError, "lines must be a mapping", None),
    ({"a": [], "b": []}, {"srate": 1, "offset_global": 0}, KeyError, "'N'", "while sampling line 'a'"),
    ({"a": [pulse(0)], "b": [{"pos": 0}]}, RECORD, KeyError, "'width'", "while sampling line 'b'"),
    ({"a": [pulse(0)], "b": [pulse(0, shape="nope")]}, RECORD, KeyError, "'nope'", "while sampling line 'b'"),
    ({"a": [pulse(0)], "b": 5}, RECORD, TypeError, "not iterable", "while sampling line 'b'"),
])
@pytest.mark.parametrize("buffers", [True, False])
def test_bad_input_raises_as_pdc2pulse_and_renders_nothing(lines, li, exc, match, note, buffers):
    # Without out buffers, line 'a' renders while 'b' parses: the call must
    # still raise and stop its threads.
    out = {"a": (np.full(2000, 7 + 0j), np.full(2000, 7 + 0j))} if buffers else None
    tasks = _tasks()
    with pytest.raises(exc, match=match) as err:
        wh.sample_lines(lines, li, threads=2, out=out)
    assert getattr(err.value, "__notes__", [None])[-1] == note
    if buffers:
        assert (out["a"][0] == 7).all() and (out["a"][1] == 7).all()
    assert _tasks() == tasks


def test_a_signal_while_parsing_stops_the_rendering_threads(interrupt):
    # The first lines render on the pool's threads while the last, endless
    # one parses; the signal's exception comes out and no thread is left.
    big = dict(N=200_000, srate=2e9, offset_global=0)
    lines = {f"l{k}": [pulse(j * 1e-7) for j in range(1000)] for k in range(4)}
    lines["endless"] = itertools.repeat(pulse(1e-3))
    tasks = _tasks()
    interrupt(0.2)
    with pytest.raises(TimeoutError, match="interrupted") as err:
        wh.sample_lines(lines, big, threads=2)
    assert err.value.__notes__[-1] == "while sampling line 'endless'"
    assert _tasks() == tasks


SHARED = np.zeros(2001, complex)


@pytest.mark.parametrize("kw, exc, match", [
    (dict(threads=0), ValueError, "threads must be at least 1, not 0"),
    (dict(threads=-3), ValueError, "threads must be at least 1, not -3"),
    (dict(threads=1.5), TypeError, "integer"),
    (dict(out={"q0_z": (np.zeros(2000, complex),)}), ValueError, r"out\['q0_z'\] must be a pair"),
    (dict(out={"q0_z": (np.zeros(2000, complex), np.zeros(10, complex))}), ValueError,
     r"out\['q0_z'\]\[1\] must have exactly 2000 samples"),
    (dict(out={"q0_z": (np.zeros(2000),) * 2}), TypeError, r"out\['q0_z'\]\[0\] must be a complex128"),
    (dict(out={"q0_z": (np.zeros(2000, complex),) * 2}), ValueError, "two different arrays"),
    (dict(out=[np.zeros(2000, complex)] * 2), TypeError, "out must be a mapping from line name"),
    (dict(out={"q0_z": (SHARED[:2000], SHARED[1:])}), ValueError,
     "the out buffers of lines 'q0_z' and 'q0_z' share memory"),
    (dict(out={"q0_z": (SHARED[:2000], np.zeros(2000, complex)), 7: (np.zeros(2000, complex), SHARED[1:])}),
     ValueError, "the out buffers of lines 'q0_z' and 7 share memory"),
])
def test_bad_options(kw, exc, match):
    with pytest.raises(exc, match=match):
        wh.sample_lines(LINES, RECORD, **kw)


def rebind_carrier(monkeypatch):
    """A wrapper of the carrier: the lines go one by one through pdc2pulse."""
    original = wh.carrier
    monkeypatch.setattr(wh, "carrier", lambda *args: original(*args))


def rebinding_shape(monkeypatch):
    """A shape that rebinds the carrier while its line parses: that line
    renders natively, the ones after it through pdc2pulse."""
    def shape(X, pd, cp):
        rebind_carrier(monkeypatch)
        return np.cos(X * 1e7) + 0j
    return shape


@pytest.mark.parametrize("rebound", ["before", "while parsing", None])
def test_adjacent_slices_of_one_array_are_accepted(monkeypatch, rebound, each_isa):
    def sample(out):
        lines = dict(LINES, q0_xy=LINES["q0_xy"] + [pulse(0, shape=rebinding_shape(monkeypatch))])
        if rebound == "before":
            rebind_carrier(monkeypatch)
        elif rebound is None:
            lines.pop("q0_xy")
        got = wh.sample_lines(lines, RECORD, out=out and out(lines))
        monkeypatch.undo()
        return got

    n = RECORD["N"]
    buf = np.full(2 * n * len(LINES), np.nan + 0j)
    out = {}

    def slices(lines):
        out.update({name: (buf[2 * k * n:(2 * k + 1) * n], buf[(2 * k + 1) * n:(2 * k + 2) * n])
                    for k, name in enumerate(lines)})
        return out

    got, want = sample(slices), sample(None)
    assert list(got) == list(want)
    for name, (W, S) in out.items():
        assert got[name][1] is W and got[name][2] is S
        for g, w in zip(got[name], want[name]):
            np.testing.assert_array_equal(g, w)


@pytest.mark.parametrize("rebound", ["before", "while parsing"])
@pytest.mark.parametrize("fault", ["shared", "raises"])
def test_rebound_lines_check_every_buffer_before_writing_any(monkeypatch, rebound, fault):
    lines = {"a": [pulse(0, shape=rebinding_shape(monkeypatch))], "b": [pulse(1e-7)], "c": [pulse(2e-7)]}
    if rebound == "before":
        rebind_carrier(monkeypatch)
    fresh = lambda: np.full(2000, 7 + 0j)  # noqa: E731
    out = {"a": (fresh(), fresh()), "b": (fresh(), fresh()), "c": (fresh(), fresh())}
    if fault == "shared":  # lines a and c share one pair
        out["c"] = out["a"]
        with pytest.raises(ValueError, match="the out buffers of lines 'a' and 'c' share memory"):
            wh.sample_lines(lines, RECORD, out=out)
    else:  # line c raises
        with pytest.raises(KeyError, match="'width'") as err:
            wh.sample_lines(dict(lines, c=[{"pos": 0}]), RECORD, out=out)
        assert err.value.__notes__[-1] == "while sampling line 'c'"
    for W, S in out.values():
        assert (W == 7).all() and (S == 7).all()


# ---- signals while rendering ---------------------------------------------------

LONG = dict(N=4_000_000, srate=2e9, offset_global=0.0)
# Read in milliseconds, rendered in a second or two: each sample in eight pulses.
BUSY = [pulse(k * 0.625e-6, shape="hcos", width=5e-6, drag_scale=1e-10, drag_detuning=1e6) for k in range(3200)]


def signal_latency(interrupt, call, after=0.3, tries=2):
    """Seconds from a signal, `after` seconds into call(), to its exception
    (the least of `tries`: a loaded machine may hold the process back)."""
    import time
    latencies = []
    for _ in range(tries):
        start = time.perf_counter()
        interrupt(after)
        with pytest.raises(TimeoutError, match="interrupted"):
            call()
        latencies.append(time.perf_counter() - start - after)
    return min(latencies)


# Rendering polls every 20 ms; the bound leaves room for a busy machine.
PROMPT = 0.25


def test_rendering_stops_soon_after_a_signal(interrupt):
    assert signal_latency(interrupt, lambda: wh.pdc2pulse(BUSY, LONG)) < PROMPT
    lines = {k: BUSY for k in range(3)}
    assert signal_latency(interrupt, lambda: wh.sample_lines(lines, LONG, threads=2)) < PROMPT


def test_a_signal_stops_writing_out_buffers(interrupt):
    # They then hold partial samples: neither what they held nor the result.
    full = wh.pdc2pulse(BUSY, LONG)[1]
    out = {k: (np.full(LONG["N"], 7 + 0j), np.full(LONG["N"], 7 + 0j)) for k in range(2)}
    assert signal_latency(interrupt, lambda: wh.sample_lines({k: BUSY for k in out}, LONG, out=out)) < PROMPT
    assert not (out[0][0] == full).all()
    buf = np.full(LONG["N"], 7 + 0j)
    assert signal_latency(interrupt, lambda: WaveSpec(BUSY, 0, LONG["N"] / LONG["srate"]).sample(
        LONG["srate"], out=buf), tries=1) < PROMPT
    assert not (buf == full).all()
