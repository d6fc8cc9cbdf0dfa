"""Sampling-driver benchmark: halvane's pdc2pulse against the numpy steps.

    PYTHONPATH=build/b/pkg python benchmarks/bench_driver.py [--repeat 5]

Workloads:
  (a) one line of 1,000,000 samples at 2e9 samples/s, 2,000 DRAG'd "cos"
      pulses of 20-40 ns with detuning on a 5 GHz carrier;
  (b) (a) plus 10 level steps and two IIR stages in `extra`;
  (c) 64 lines of (a) sampled from 2 threads against 1 thread;
  (d) the peak memory of one call of (b) against its three result arrays:
      numpy's allocations as traced, and the growth of the resident set of
      a fresh process (which counts everything, native scratch included).
The baseline is the driver's algorithm written directly in numpy and SciPy,
as a user would (tests/reference.py); both run interleaved in one process
and must agree.
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import threading
import time
import tracemalloc

import numpy as np

from halvane import wavespec_handling as wh

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
import reference as ref  # noqa: E402


# ---- workloads --------------------------------------------------------------

def workload(steps, seed=1):
    rng = np.random.default_rng(seed)
    pds = [dict(shape="cos", pos=k * 250e-9 + rng.uniform(0, 50e-9), width=rng.uniform(20e-9, 40e-9),
                plateau=0.0, amp=rng.uniform(0.1, 0.9), freq=5e9, phase=rng.uniform(-np.pi, np.pi),
                phase1=0.0, drag_scale=rng.uniform(-5e-10, 5e-10), drag_detuning=rng.uniform(-2e7, 2e7))
           for k in range(2000)]
    li = dict(N=1_000_000, srate=2e9, offset_global=0.0)
    if steps:
        for k in range(10):
            pds.insert(200 * k + 100, dict(edge_shape="sine_edge", pos=k * 50e-6 + 3e-6, width=10e-9,
                                           plateau=0, amp=0.05 * (k % 3)))
        li["extra"] = {"fast": [1.02, -0.02, 2e-8, 5e-10], "slow": [0.97, 0.03, 1e-6, 5e-10]}
    return pds, li


def median_time(f, repeat):
    ts = []
    for _ in range(repeat):
        t = time.perf_counter()
        f()
        ts.append(time.perf_counter() - t)
    return statistics.median(ts)


def compare(name, pds, li, repeat):
    got, want = wh.pdc2pulse(pds, li), ref.pdc2pulse(pds, li)
    assert np.array_equal(got[0], want[0])
    ref.assert_close(got[1], want[1])
    ref.assert_close(got[2], want[2])
    t_np, t_hv = [], []
    for _ in range(repeat):  # interleaved
        t_np.append(median_time(lambda: ref.pdc2pulse(pds, li), 1))
        t_hv.append(median_time(lambda: wh.pdc2pulse(pds, li), 3))
    a, b = statistics.median(t_np), statistics.median(t_hv)
    print(f"({name}) numpy {a * 1e3:8.1f} ms   halvane {b * 1e3:7.2f} ms   ratio {a / b:6.1f}x")


def threads(pds, li, repeat, lines=64, nthreads=2):
    def run(count):
        for _ in range(count):
            wh.pdc2pulse(pds, li)

    def parallel():
        ts = [threading.Thread(target=run, args=(lines // nthreads,)) for _ in range(nthreads)]
        for t in ts:
            t.start()
        for t in ts:
            t.join()

    ones, twos = [], []
    for _ in range(repeat):  # interleaved
        ones.append(median_time(lambda: run(lines), 1))
        twos.append(median_time(parallel, 1))
    one, two = statistics.median(ones), statistics.median(twos)
    print(f"(c) {lines} lines: 1 thread {one * 1e3:7.1f} ms   {nthreads} threads {two * 1e3:7.1f} ms"
          f"   speed-up {one / two:4.2f}x")


def peak_memory(pds, li):
    """numpy's allocations traced in this process; all memory in a fresh one."""
    wh.pdc2pulse(pds, li)
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    X, W, S = wh.pdc2pulse(pds, li)
    peak = tracemalloc.get_traced_memory()[1] - base
    tracemalloc.stop()
    results = X.nbytes + W.nbytes + S.nbytes
    rss = int(subprocess.run([sys.executable, __file__, "--rss-child"], check=True, capture_output=True,
                             text=True).stdout)
    print(f"(d) results {results / 2**20:5.1f} MiB; traced peak {peak / 2**20:5.1f} MiB ({peak / results:4.2f}x);"
          f" resident peak growth of a first call {rss / 2**20:5.1f} MiB ({rss / results:4.2f}x)")


def status(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(field + ":"))


def rss_child():
    pds, li = workload(True)
    with open("/proc/self/clear_refs", "w") as f:  # restart the resident high-water mark (Linux)
        f.write("5")
    before = status("VmRSS")
    wh.pdc2pulse(pds, li)
    print(status("VmHWM") - before)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--rss-child", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.rss_child:
        return rss_child()
    a, b = workload(False), workload(True)
    compare("a", *a, args.repeat)
    compare("b", *b, args.repeat)
    threads(*a, args.repeat)
    peak_memory(*b)


if __name__ == "__main__":
    main()
