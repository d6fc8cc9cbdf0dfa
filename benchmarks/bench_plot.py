"""Plotting benchmark: halvane.plot.plot_lines against plotting every sample.

    PYTHONPATH=build/b/pkg python benchmarks/bench_plot.py [--repeat 3] [--samples 1000000]

Workload: 8 lines of 10^6 samples (a pulse train on a carrier with level
steps), drawn as I, Q and the envelope's real and imaginary parts, one panel
per line. The baseline is what a user would write without halvane: the same
panels with every sample handed to matplotlib. Both are timed twice, interleaved:
building the figure, and building it and rendering it to pixels (Agg).
"""

import argparse
import statistics
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from halvane import plot  # noqa: E402
from halvane import wavespec_handling as wh  # noqa: E402


def lines(n, count=8):
    pulse = {"shape": "cos", "pos": 0, "width": 40e-9, "plateau": 0, "amp": 0.5, "freq": 100e6,
             "phase": 0, "phase1": 0, "drag_scale": 0.3e-9}
    step = {"edge_shape": "sine_edge", "pos": 0, "width": 10e-9, "plateau": 0, "amp": 0.1}
    record = {"N": n, "srate": 2e9, "offset_global": 0.0}
    span = n / 2e9
    pds = [dict(pulse, pos=k * span / 400) for k in range(400)] + [dict(step, pos=span * f, amp=0.1 * f)
                                                                  for f in (0.25, 0.5, 0.75)]
    return {f"q{k}_xy": wh.pdc2pulse(pds, record) for k in range(count)}


def naive(waves):
    fig, axes = plt.subplots(len(waves), 1, sharex=True, squeeze=False, figsize=(9, 1.8 * len(waves)))
    for ax, (name, (X, W, S)) in zip(axes[:, 0], waves.items()):
        t = X / 1e-9
        ax.plot(t, W.real, lw=0.9)
        ax.plot(t, W.imag, lw=0.9)
        ax.plot(t, S.real, "--", lw=0.6)
        ax.plot(t, S.imag, "--", lw=0.6)
        ax.set_title(name, loc="left")
    return fig


def timed(make, waves, render):
    t0 = time.perf_counter()
    fig = make(waves)
    if render:
        fig.canvas.draw()
    dt = time.perf_counter() - t0
    plt.close(fig)
    return dt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--samples", type=int, default=10**6)
    args = ap.parse_args()
    waves = lines(args.samples)
    print(f"8 lines of {args.samples} samples, 4 traces each; medians of {args.repeat} runs")
    for render in (False, True):
        ours, base = [], []
        timed(plot.plot_lines, waves, render)  # warm-up: fonts, caches
        for _ in range(args.repeat):
            ours.append(timed(plot.plot_lines, waves, render))
            base.append(timed(naive, waves, render))
        a, b = statistics.median(ours), statistics.median(base)
        what = "figure + render" if render else "figure only    "
        print(f"  {what}  plot_lines {a:7.3f} s   every sample {b:7.3f} s   ratio {b / a:6.1f}x")


if __name__ == "__main__":
    main()
