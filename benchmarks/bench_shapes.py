"""Envelope shapes and the carrier: halvane against the numpy formulas.

Each shape and the carrier on a grid of 10^4 and of 10^6 samples that the
pulse covers, timed against the numpy formula it replaces, in one process and
interleaved (baseline, halvane, baseline, ...). Both results must agree.
Then the fixed cost of one call on a 40-sample slice, the size the sampling
driver hands to a shape. Prints medians and ratios.

The column "alone" times halvane back to back: there the allocator hands
the result the memory of the previous one, while after the baseline, which
frees tens of megabytes, a fresh 16 MB result costs its page faults (about
2 ms per 10^6 complex samples on a machine without transparent huge pages).

    PYTHONPATH=build/a/pkg python benchmarks/bench_shapes.py [--repeat N]
"""

import argparse
import statistics
import time

import numpy as np

from halvane import wavespec_handling as wh


# ---- baseline: the numpy formulas ---------------------------------------------

def mn(A, B):
    return (min(A, B), max(A, B))


def seige(x, a, b, w):
    return np.pi * (x * (b - a) / w + (b + a - 1) / 2)


def sine_edge(X, x0, w_=1e-10, a_=0, b_=1):
    w = w_ if w_ > 1e-10 else 1e-10
    a, b = mn(a_, b_)
    l, r = mn(np.sin(seige(-w / 2, a, b, w)), np.sin(seige(w / 2, a, b, w)))
    Y = np.zeros(len(X), dtype=np.complex128)
    Y += ((X >= x0 - w / 2) & (X < x0 + w / 2)) * (np.sin(seige(X - x0, a, b, w)) - l) / (r - l)
    Y += X >= x0 + w / 2
    return Y


def sine_edge_2pi(X, x0, w_=1e-10):
    w = w_ if w_ > 1e-10 else 1e-10
    Y = np.zeros(len(X), dtype=np.complex128)
    Y += ((X >= x0 - w / 2) & (X < x0 + w / 2)) * np.sin(2.0 * np.pi * ((X - x0) / w))
    return Y


def square(X, pd, cp={}):
    p = pd['pos']
    w = pd['width'] + pd['plateau']
    return pd['amp'] * (((X >= p) & (X < p + w)) + 0j)


def sine_like(X, pd, a, b, ls=1, rs=1):
    if np.abs(pd['width']) < 1e-14:
        return square(X, pd)
    p = pd['pos'] + pd['width'] / 4
    return (pd['amp'] * sine_edge(X, p, pd['width'] / 2 * ls, a, b)
            * sine_edge(-X, -(p + pd['width'] / 2 + pd['plateau']), pd['width'] / 2 * rs, a, b))


def sine(X, pd, cp={}):
    return sine_like(X, pd, pd.get('scale_a', 0), pd.get('scale_b', 1))


def cosine(X, pd, cp={}):
    return sine_like(X, pd, 0, 1)


def hcosine(X, pd, cp={}):
    return sine_like(X, pd, 0.5, 1)


def hcosine_asys(X, pd, cp={}):
    return sine_like(X, pd, 0.5, 1, pd.get('left_scale', 1), pd.get('right_scale', 1))


def sine2pi(X, pd, cp={}):
    if np.abs(pd['width']) < 1e-14:
        return square(X, pd)
    p = pd['pos'] + (pd['width'] + pd['plateau']) / 2
    return pd['amp'] * sine_edge_2pi(X, p, pd['width'] + pd['plateau'])


def tanh(X, pd, cp={}):
    p, w, amp, epsilon = pd['pos'], pd['width'], pd['amp'], pd['epsilon']
    u = X - p
    tau = w / 2
    rise = amp * np.tanh(2 * epsilon * u / tau) * (((u >= 1e-10) & (u - w / 2 < 1e-10)) + 0j)
    fall = amp * np.tanh(2 * epsilon * (2 * tau - u) / tau) * (((u - w / 2 >= 1e-10) & (u - w <= 1e-10)) + 0j)
    return rise + fall


def hyper(X, pd, cp={}):
    p, w, amp, epsilon = pd['pos'], pd['width'], pd['amp'], pd['epsilon']
    u = X - p
    h = np.cosh(epsilon / 2) - np.cosh(epsilon * (u / w - 0.5))
    y = h * (((u >= 1e-20) & (u - w / 2 < 1e-20)) + 0j) + h * (((u - w / 2 >= 1e-20) & (u - w <= 1e-20)) + 0j)
    y /= np.max(y)
    return amp * y


def carrier(X, freq, ph=0, imb=0):
    A = np.cos(np.pi / 4 + imb) * np.sqrt(2)
    B = np.sin(np.pi / 4 + imb) * np.sqrt(2)
    p2 = np.pi / 2 + ph
    return A * np.cos(2 * np.pi * freq * X) - 1j * B * np.cos(2 * np.pi * freq * X + p2)


BASELINE = dict(square=square, sine=sine, cosine=cosine, hcosine=hcosine, hcosine_asys=hcosine_asys,
                sine2pi=sine2pi, tanh=tanh, hyper=hyper)


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
    for name, ref in BASELINE.items():
        yield name, (lambda ref=ref: ref(X, pd)), (lambda name=name: getattr(wh, name)(X, pd))
    yield "carrier", (lambda: carrier(X, 5.3e9, 0.1, 0.05)), (lambda: wh.carrier(X, 5.3e9, 0.1, 0.05))


def check(fa, fb):
    with np.errstate(all="ignore"):
        a, b = fa(), fb()
    scale = max(1.0, float(np.abs(a).max(initial=0)))
    assert a.shape == b.shape and np.allclose(a, b, rtol=0, atol=1e-12 * scale, equal_nan=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=0, help="timings per case (default: by size)")
    args = parser.parse_args()
    print(f"{'workload':<14}{'samples':>9}{'numpy':>12}{'halvane':>12}{'ratio':>8}{'alone':>12}")
    for n in (10**4, 10**6):
        repeat = args.repeat or (200 if n <= 10**4 else 15)
        for name, fa, fb in workloads(n):
            check(fa, fb)
            ta, tb = interleaved(fa, fb, repeat)
            _, alone = interleaved(lambda: None, fb, repeat)
            print(f"{name:<14}{n:>9}{ta * 1e3:>10.3f}ms{tb * 1e3:>10.3f}ms{ta / tb:>7.1f}x"
                  f"{alone * 1e3:>10.3f}ms")
    print(f"\nfixed cost of one call on 40 samples (median of {args.repeat or 20000})")
    print(f"{'workload':<14}{'numpy':>12}{'halvane':>12}{'ratio':>8}")
    for name, fa, fb in workloads(40):
        ta, tb = interleaved(fa, fb, args.repeat or 20000)
        print(f"{name:<14}{ta * 1e6:>10.2f}us{tb * 1e6:>10.2f}us{ta / tb:>7.1f}x")


if __name__ == "__main__":
    main()
