"""Many lines and reused buffers: sample_lines and out= against the numpy steps.

    PYTHONPATH=build/b/pkg python benchmarks/bench_lines.py [--repeat 3] [--lines 16]

Workloads (the line of bench_driver.py (a): 1,000,000 samples at 2e9
samples/s, 2,000 DRAG'd "cos" pulses with detuning on a 5 GHz carrier):
  (a) 16 such lines: sample_lines on 2 threads against 1 thread, and against
      the numpy formulation line by line;
  (b) one line sampled again and again: WaveSpec.sample into the same buffer,
      and with fresh arrays, against the numpy formulation.
Each pair runs interleaved in one process; the results must agree.
"""

import argparse
import statistics
import time

import numpy as np

from bench_driver import ref, workload
from halvane import wavespec_handling as wh
from halvane.wavespec import WaveSpec


def seconds(f):
    t = time.perf_counter()
    f()
    return time.perf_counter() - t


def interleaved(fs, repeat):
    """Median seconds of each function, run in turn `repeat` times after two
    untimed rounds (the first calls fault in the memory that later ones reuse)."""
    for _ in range(2):
        for f in fs:
            f()
    times = [[] for _ in fs]
    for _ in range(repeat):
        for ts, f in zip(times, fs):
            ts.append(seconds(f))
    return [statistics.median(ts) for ts in times]


def many_lines(pds, li, nlines, repeat):
    lines = {f"q{k}": pds for k in range(nlines)}
    got = wh.sample_lines(lines, li, threads=2)
    want = ref.pdc2pulse(pds, li)
    for X, W, S in got.values():
        ref.assert_close(W, want[1])
        ref.assert_close(S, want[2])
    del got
    one, two, base = interleaved([lambda: wh.sample_lines(lines, li, threads=1),
                                 lambda: wh.sample_lines(lines, li, threads=2),
                                 lambda: [ref.pdc2pulse(pds, li) for _ in range(nlines)]], repeat)
    print(f"(a) {nlines} lines: numpy {base * 1e3:8.1f} ms   1 thread {one * 1e3:7.1f} ms"
          f"   2 threads {two * 1e3:7.1f} ms   2 vs 1 thread {one / two:4.2f}x   2 threads vs numpy {base / two:5.1f}x")


def reused_buffer(pds, li, repeat):
    ws = WaveSpec(pds, 0, li["N"] / li["srate"])
    buf = np.empty(li["N"], complex)
    want = ref.pdc2pulse(pds, li)[1]
    ref.assert_close(ws.sample(li["srate"], out=buf), want)
    into, fresh, base = interleaved([lambda: ws.sample(li["srate"], out=buf),
                                    lambda: ws.sample(li["srate"]),
                                    lambda: ref.pdc2pulse(pds, li)], repeat)
    print(f"(b) one line again and again: numpy {base * 1e3:7.1f} ms   into a buffer {into * 1e3:6.2f} ms"
          f" ({base / into:5.1f}x)   fresh arrays {fresh * 1e3:6.2f} ms ({base / fresh:5.1f}x)")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--lines", type=int, default=16)
    args = ap.parse_args()
    pds, li = workload(False)
    many_lines(pds, li, args.lines, args.repeat)
    reused_buffer(pds, li, 3 * args.repeat)


if __name__ == "__main__":
    main()
