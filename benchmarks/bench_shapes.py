"""Envelope shapes and the carrier: halvane against the numpy formulas.

Each shape and the carrier on a grid of 10^4, 10^5 and 10^6 samples that the
pulse covers, timed against the numpy formula it replaces, in one process and
interleaved (baseline, halvane, baseline, ...). Both results must agree. The
shapes of the exp family (tanh, hyper, gaussian, netzero) share one ratio
floor on 10^5 samples: a ratio below it is marked, and the script exits with
status 1.
Then the fixed cost of one call on a 40-sample slice, the size the sampling
driver hands to a shape. Prints medians and ratios.

The column "alone" times halvane back to back: there the allocator hands
the result the memory of the previous one, while after the baseline, which
frees tens of megabytes, a fresh 16 MB result costs its page faults (about
2 ms per 10^6 complex samples on a machine without transparent huge pages).

    PYTHONPATH=build/a/pkg python benchmarks/bench_shapes.py [--repeat N]
"""

import argparse
import pathlib
import statistics
import sys
import time

import numpy as np

from halvane import wavespec_handling as wh

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
import reference as ref  # noqa: E402


# ---- baseline: the numpy formulas of the tests' reference module ------------------

# The least speed-up over numpy on 10^5 samples for the shapes built on exp
# and its relatives on a vectorised path (AVX2 or AVX-512; about 25x measured).
EXP_FAMILY_FLOOR = 10.0
FLOORS = dict.fromkeys(("tanh", "hyper", "gaussian", "netzero"), EXP_FAMILY_FLOOR)

BASELINE = {name: getattr(ref, name) for name in
            ("square", "sine", "cosine", "hcosine", "hcosine_asys", "sine2pi", "tanh", "hyper", "gaussian",
             "netzero")}


# ---- timing -------------------------------------------------------------------

def interleaved(fa, fb, repeat):
    ta, tb = [], []
    for _ in range(repeat):
        for f, t in ((fa, ta), (fb, tb)):
            t0 = time.perf_counter()
            f()
            t.append(time.perf_counter() - t0)
    return statistics.median(ta), statistics.median(tb)


def workloads(n):
    # A pulse over the whole grid: edges of a quarter of it each, a flat top
    # in between; a 1 GS/s grid starting 0.1 ms into the window.
    X = 1e-4 + np.arange(n) * 1e-9
    span = n * 1e-9
    pd = dict(pos=X[0], width=span / 2, plateau=span / 2 - 2e-9, amp=0.8 - 0.1j, scale_a=0.1, scale_b=0.9,
              left_scale=1.5, right_scale=0.7, epsilon=4.0)
    for name, formula in BASELINE.items():
        yield name, (lambda formula=formula: formula(X, pd)), (lambda name=name: getattr(wh, name)(X, pd))
    yield "carrier", (lambda: ref.carrier(X, 5.3e9, 0.1, 0.05)), (lambda: wh.carrier(X, 5.3e9, 0.1, 0.05))


def check(fa, fb):
    with np.errstate(all="ignore"):
        a, b = fa(), fb()
    ref.assert_close(b, a)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=0, help="timings per case (default: by size)")
    args = parser.parse_args()
    print(f"{'workload':<14}{'samples':>9}{'numpy':>12}{'halvane':>12}{'ratio':>8}{'alone':>12}")
    below = []
    for n in (10**4, 10**5, 10**6):
        repeat = args.repeat or (200 if n <= 10**4 else 50 if n <= 10**5 else 15)
        for name, fa, fb in workloads(n):
            check(fa, fb)
            ta, tb = interleaved(fa, fb, repeat)
            _, alone = interleaved(lambda: None, fb, repeat)
            floor = FLOORS.get(name) if n == 10**5 else None
            mark = f"  below the floor {floor:g}x" if floor and ta / tb < floor else ""
            if mark:
                below.append(name)
            print(f"{name:<14}{n:>9}{ta * 1e3:>10.3f}ms{tb * 1e3:>10.3f}ms{ta / tb:>7.1f}x"
                  f"{alone * 1e3:>10.3f}ms{mark}")
    print(f"\nfixed cost of one call on 40 samples (median of {args.repeat or 20000})")
    print(f"{'workload':<14}{'numpy':>12}{'halvane':>12}{'ratio':>8}")
    for name, fa, fb in workloads(40):
        ta, tb = interleaved(fa, fb, args.repeat or 20000)
        print(f"{name:<14}{ta * 1e6:>10.2f}us{tb * 1e6:>10.2f}us{ta / tb:>7.1f}x")
    if below:
        sys.exit(f"below the ratio floor on 10^5 samples: {', '.join(below)}")


if __name__ == "__main__":
    main()
