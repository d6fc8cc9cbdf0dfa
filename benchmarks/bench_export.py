"""Samples to DAC codes: export.quantize against the numpy steps and a memcpy.

    PYTHONPATH=build/b/pkg OPENBLAS_NUM_THREADS=1 python benchmarks/bench_export.py [--samples 10000000] [--repeat 7]

Workload: 10^7 complex128 samples (a 0.98 carrier with 1 % noise, so that a
few samples clip) quantized to 16-bit signed I/Q codes, 320 MB in, 40 MB out:
  - halvane: export.quantize(w, bits=16), codes and clipping report;
  - numpy: the steps a user writes, np.rint(np.clip(x * scale, -top, top)).astype(np.int16)
    on the float64 view of w (no NaN handling and no report);
  - memcpy: np.copyto of the 40 MB of codes into an array made beforehand, the
    floor of a loop that writes them.
The codes must agree. The loop reads 16 bytes and writes 4 per sample, so it
is bound by memory: the goal is 4x the numpy steps, or within 1.5x of the memcpy.
Each is timed by the wall clock and by the process's processor time.
"""

import argparse
import statistics
import time

import numpy as np

from halvane import export


def interleaved(fs, repeat, clock):
    """Median seconds of each function by `clock`, run in turn `repeat` times after one untimed round."""
    for f in fs:
        f()
    times = [[] for _ in fs]
    for _ in range(repeat):
        for ts, f in zip(times, fs):
            t = clock()
            f()
            ts.append(clock() - t)
    return [statistics.median(ts) for ts in times]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--samples", type=int, default=10**7)
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()
    n = args.samples
    rng = np.random.default_rng(1)
    noise = rng.standard_normal(n) + 1j * rng.standard_normal(n)
    w = 0.98 * np.exp(2j * np.pi * 0.0123 * np.arange(n)) + 0.01 * noise
    top = 2.0 ** 15 - 1

    def numpy_steps():
        return np.rint(np.clip(w.view(np.float64) * top, -top, top)).astype(np.int16).reshape(n, 2)

    codes, report = export.quantize(w, bits=16)
    np.testing.assert_array_equal(codes, numpy_steps())
    dst = np.empty_like(codes)
    print(f"{n} complex samples to 16-bit I/Q codes ({report.clipped[0] + report.clipped[1]} values clipped)")
    # Wall time, and the process's processor time, which a machine shared
    # with other work does not inflate (every step here runs on one thread).
    for label, clock in (("wall", time.perf_counter), ("cpu ", time.process_time)):
        ours, theirs, copy = interleaved([lambda: export.quantize(w, bits=16), numpy_steps,
                                          lambda: np.copyto(dst, codes)], args.repeat, clock)
        speedup, over_copy = theirs / ours, ours / copy
        print(f"  {label}: export.quantize {ours * 1e3:7.1f} ms   numpy steps {theirs * 1e3:7.1f} ms   "
              f"memcpy of the codes {copy * 1e3:6.1f} ms   {speedup:5.1f}x the numpy steps (goal 4x: "
              f"{'met' if speedup >= 4 else 'not met'});  {over_copy:4.1f}x the memcpy (goal 1.5x: "
              f"{'met' if over_copy <= 1.5 else 'not met'})")

if __name__ == "__main__":
    main()
