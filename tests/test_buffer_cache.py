"""The bounded cache of released array buffers behind halvane's large arrays."""

import os
import pickle
import queue
import subprocess
import sys
import threading

import numpy as np
import pytest

from halvane import wavespec_handling as wh

N = 50_000  # 800 kB complex arrays: large enough to be cached
X = np.linspace(0, 1e-5, N, endpoint=False)


def line(k):
    pds = [dict(shape="cos", pos=(20 + 3 * j) * 1e-9 * (k + 1), width=40e-9, plateau=0, amp=0.1 * (j + 1),
                freq=1e8 * (k + 1), phase=k, phase1=0) for j in range(30)]
    return pds, dict(N=N, srate=5e9, offset_global=0.01 * k)


def references(count):
    previous = wh.buffer_cache(0)
    try:
        return [wh.pdc2pulse(*line(k)) for k in range(count)]
    finally:
        wh.buffer_cache(previous)


REFS = references(6)


def assert_same(got, want):
    for g, w in zip(got, want, strict=True):
        np.testing.assert_array_equal(g, w)


def test_bound_is_read_and_set(bound):
    previous = bound(123 << 20)
    assert bound() == 123 << 20 and bound(previous) == 123 << 20 and bound() == previous
    with pytest.raises(ValueError, match="0 or more bytes, not -1"):
        bound(-1)
    with pytest.raises(TypeError):
        bound(1.5)


def test_reused_buffers_are_independent_and_correct(bound):
    bound(64 << 20)
    kept = []
    for rnd in range(3):
        for k, want in enumerate(REFS):
            got = wh.pdc2pulse(*line(k))
            assert_same(got, want)
            if rnd == 1:
                kept.append(got)  # alive while later calls reuse other buffers
    arrays = [a for got in kept for a in got]
    assert not any(np.shares_memory(a, b) for i, a in enumerate(arrays) for b in arrays[i + 1:])
    for got, want in zip(kept, REFS):
        assert_same(got, want)
    assert wh._buffer_cache_held() <= 64 << 20


def test_threads_sample_and_free_each_others_arrays(bound):
    bound(16 << 20)
    handed = queue.Queue()
    errors = []

    def worker(t):
        try:
            for i in range(12):
                k = (t + i) % len(REFS)
                got = wh.pdc2pulse(*line(k))
                assert_same(got, REFS[k])
                handed.put(got)  # freed by whichever thread takes it
                other = handed.get()
                assert other[1].dtype == np.complex128
                del other
        except Exception as e:  # reported below, in the test's thread
            errors.append(e)

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert wh._buffer_cache_held() <= 16 << 20


def test_bound_is_held_and_zero_turns_the_cache_off(bound):
    bound(2 << 20)  # room for two of the 800 kB arrays (rounded to pages)
    arrays = [wh.carrier(X, 1e8) for _ in range(8)]
    del arrays
    assert 0 < wh._buffer_cache_held() <= 2 << 20
    bound(1 << 20)
    assert 0 < wh._buffer_cache_held() <= 1 << 20
    bound(0)
    assert wh._buffer_cache_held() == 0
    wh.carrier(X, 1e8)
    assert wh._buffer_cache_held() == 0


def test_lowering_the_bound_evicts_down_to_it(bound):
    bound(16 << 20)
    arrays = [wh.carrier(X, 1e8) for _ in range(8)]
    del arrays
    assert wh._buffer_cache_held() > 6 << 20
    bound(1 << 20)
    assert 0 < wh._buffer_cache_held() <= 1 << 20
    # A released block larger than the room left evicts as many as it needs.
    bound(6 << 20)
    arrays = [wh.carrier(X, 1e8) for _ in range(7)]
    del arrays
    assert wh._buffer_cache_held() > 5 << 20
    wh.carrier(np.linspace(0, 1e-5, 250_000), 1e8)  # a 4 MiB block
    assert wh._buffer_cache_held() <= 6 << 20


def test_a_reused_block_is_zeroed_where_zeros_are_asked_for(bound, monkeypatch):
    want = wh.sine_edge(X, 5e-6, 1e-6)
    bound(0)
    bound(64 << 20)
    garbage = wh.carrier(X, 1e8)
    garbage[:] = np.nan
    del garbage  # held: a block of N complex NaNs, the next to be taken
    held = wh._buffer_cache_held()
    mn = wh.mn
    monkeypatch.setattr(wh, "mn", lambda a, b: mn(a, b))  # sine_edge through the interpreter, from np.zeros
    got = wh.sine_edge(X, 5e-6, 1e-6)
    assert wh._buffer_cache_held() < held  # a block was taken
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-15)


RSS_GROWTH = """
import sys
import numpy as np
from halvane import wavespec_handling as wh
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096
wh.buffer_cache(int(sys.argv[1]))
pd = dict(shape="cos", pos=1e-8, width=2e-8, plateau=0, amp=0.5, freq=5e8, phase=0, phase1=0)
base = rss()
for k, n in enumerate(np.random.default_rng(1).integers(5_000, 600_000, 300)):
    r = wh.pdc2pulse([pd], dict(N=int(n), srate=2e9, offset_global=0.01))
    if k % 7 == 0:
        kept = r  # some results live on a while, as in a real loop
print(rss() - base)
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
def test_the_process_grows_by_at_most_the_bound():
    def growth(limit):
        done = subprocess.run([sys.executable, "-c", RSS_GROWTH, str(limit)], capture_output=True, text=True,
                              timeout=120, check=True)
        return int(done.stdout)

    limit = 32 << 20
    assert growth(limit) - growth(0) <= 1.1 * limit


@pytest.mark.parametrize("n", [N, 100_000])  # 800 kB blocks of pages; 1.6 MB ones of huge pages
def test_cached_arrays_are_ordinary_arrays(bound, n):
    bound(64 << 20)
    x = np.linspace(0, 1e-5, n, endpoint=False)
    wh.carrier(x, 2e8)  # dropped at once: a buffer for the next one
    a = wh.carrier(x, 1e8)
    want = np.cos(2 * np.pi * 1e8 * x) - 1j * np.cos(2 * np.pi * 1e8 * x + np.pi / 2)
    np.testing.assert_allclose(a, want, atol=1e-12)
    assert a.flags.owndata and a.flags.writeable
    np.testing.assert_array_equal(pickle.loads(pickle.dumps(a)), a)
    a.resize(2 * n, refcheck=False)
    assert a[n:].tolist() == [0j] * n
    np.testing.assert_allclose(a[:n], want, atol=1e-12)
    a.resize(n // 3, refcheck=False)  # and smaller, below a huge page
    np.testing.assert_allclose(a, want[:n // 3], atol=1e-12)


@pytest.mark.parametrize("value, bound_, warns", [("3M", 3 << 20, False), ("0", 0, False),
                                                  ("lots", 256 << 20, True)])
def test_environment_variable_sets_the_bound_at_import(value, bound_, warns):
    code = ("import warnings; warnings.simplefilter('always')\n"
            "with warnings.catch_warnings(record=True) as w:\n"
            "    from halvane import wavespec_handling as wh\n"
            "print(wh.buffer_cache(), len(w))")
    out = subprocess.run([sys.executable, "-c", code], env=dict(os.environ, HALVANE_BUFFER_CACHE=value),
                         check=True, capture_output=True, text=True).stdout.split()
    assert out == [str(bound_), "1" if warns else "0"]
