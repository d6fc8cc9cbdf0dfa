"""Fresh memory: the buffer cache on and off, and sampling into a kept buffer.

    PYTHONPATH=build/b/pkg python benchmarks/bench_memory.py [--repeat 7]

Workloads, each against its numpy formulation (run interleaved, in one
process; the results must agree):
  (a) the line of bench_driver.py (a), 10^6 samples with 2,000 DRAG'd
      pulses, sampled again and again: into the same buffer
      (WaveSpec.sample(rate, out=buf)), and into fresh arrays (pdc2pulse)
      with the buffer cache on and off;
  (b) the nine shapes of bench_shapes.py (eight envelopes and the carrier)
      on 10^5 samples, called one after the other with their results kept,
      with the cache on and off; twice, because the C allocator changes
      under numpy: first as a fresh process has it, where numpy's 1.6 MB
      temporaries come from the system and go back to it; then after (a),
      whose large arrays make it keep freed memory, so that numpy's
      temporaries come back still in the processor's caches while
      halvane's results land in memory released a round before.
Minor page faults per call are counted too.
"""

import argparse
import resource
import statistics
import time

import numpy as np

from bench_driver import ref, workload
from bench_shapes import check, workloads
from halvane import wavespec_handling as wh
from halvane.wavespec import WaveSpec


def faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def interleaved(fs, repeat):
    """Median seconds and mean minor faults of each function, run in turn."""
    times, flts = [[] for _ in fs], [0 for _ in fs]
    for _ in range(repeat):
        for i, f in enumerate(fs):
            f0, t0 = faults(), time.perf_counter()
            f()
            times[i].append(time.perf_counter() - t0)
            flts[i] += faults() - f0
    return [(statistics.median(t), n / repeat) for t, n in zip(times, flts)]


def with_cache(limit, f):
    def run():
        previous = wh.buffer_cache(limit)
        try:
            return f()
        finally:
            wh.buffer_cache(previous)
    return run


def line(repeat):
    pds, li = workload(False)
    ws = WaveSpec(pds, 0, li["N"] / li["srate"])
    buf = np.empty(li["N"], complex)
    want = ref.pdc2pulse(pds, li)[1]
    ref.assert_close(ws.sample(li["srate"], out=buf), want)
    cache = wh.buffer_cache()
    rows = interleaved([lambda: ref.pdc2pulse(pds, li),
                        lambda: ws.sample(li["srate"], out=buf),
                        lambda: wh.pdc2pulse(pds, li)], repeat)
    rows += with_cache(0, lambda: interleaved([lambda: ref.pdc2pulse(pds, li),
                                               lambda: wh.pdc2pulse(pds, li)], repeat))()
    (base, _), into, on, (base_off, _), off = rows
    print(f"(a) one line again and again: numpy {base * 1e3:7.1f} ms (with the cache off: {base_off * 1e3:7.1f} ms)")
    for name, (t, flt), r in (("into one buffer", into, base), (f"fresh, cache {cache >> 20} MiB", on, base),
                              ("fresh, cache off", off, base_off)):
        print(f"      {name:<24} {t * 1e3:7.2f} ms  {r / t:5.1f}x   {flt:7.0f} page faults")


def shapes(repeat, when):
    cases = list(workloads(10**5))
    for _, fa, fb in cases:
        check(fa, fb)

    def numpy_all():
        with np.errstate(all="ignore"):
            return [fa() for _, fa, _ in cases]

    def halvane_all():
        return [fb() for _, _, fb in cases]

    cache = wh.buffer_cache()
    (base, _), (on, f_on) = interleaved([numpy_all, halvane_all], repeat)
    (base_off, _), (off, f_off) = with_cache(0, lambda: interleaved([numpy_all, halvane_all], repeat))()
    print(f"(b) nine shapes on 10^5 samples, results kept, {when}: numpy {base * 1e3:6.2f} ms"
          f" (cache off: {base_off * 1e3:6.2f})")
    print(f"      cache {cache >> 20} MiB {on * 1e3:6.2f} ms  {base / on:5.1f}x   {f_on:7.0f} page faults")
    print(f"      cache off     {off * 1e3:6.2f} ms  {base_off / off:5.1f}x   {f_off:7.0f} page faults")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()
    shapes(5 * args.repeat, "in a fresh process")
    line(args.repeat)
    shapes(5 * args.repeat, "after (a)")


if __name__ == "__main__":
    main()
