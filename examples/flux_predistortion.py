"""Flux pre-distortion: level steps through two IIR stages, and what the line makes of them.

A flux line does not pass a step as it is: its step response, modelled per
stage as A + B·e^(−t/τ), jumps to A + B and settles to A. Each IIR stage in
the sampling record's ``extra`` inverts one such stage, so a line fed with the
pre-distorted samples settles at once. This example samples a flux line with
level steps twice (raw and pre-distorted), runs both through the modelled
line, and prints how far each response strays from the intended levels once
a step's edge is over.

    python examples/flux_predistortion.py [--points 4000] [--png flux_predistortion.png]
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any

import numpy as np
from scipy.signal import fftconvolve  # type: ignore[import-untyped, unused-ignore]

from halvane import wavespec_handling

SRATE = 2e9
# The line's model per stage: [A, B, tau, Ts]; a slow overshoot and a fast undershoot.
STAGES = {"slow": [1.0, 0.06, 250e-9, 1 / SRATE], "fast": [1.0, -0.04, 20e-9, 1 / SRATE]}
EDGE = 2e-9  # rise time of each level step


def flux_steps(span: float) -> list[dict[str, Any]]:
    """Level steps of the flux line: up, down part-way, back to rest."""
    step = {"edge_shape": "sine_edge", "width": EDGE, "plateau": 0}
    return [dict(step, pos=0.05 * span, amp=0.25), dict(step, pos=0.45 * span, amp=0.1),
            dict(step, pos=0.75 * span, amp=0.0)]


def line_response(x: np.ndarray, stages: dict[str, list[float]]) -> np.ndarray:
    """What the modelled line puts out for the input samples ``x`` (resting at 0).

    Every change of the input starts a step response A + B·e^(−t/τ) of each
    stage in turn: the input's increments convolved with the sampled step response.
    """
    y = x
    for A, B, tau, Ts in stages.values():
        step = A + B * np.exp(-np.arange(y.size) * Ts / tau)
        y = fftconvolve(np.diff(y, prepend=0.0), step)[: y.size]
    return y


def settled_error(response: np.ndarray, intended: np.ndarray, times: np.ndarray, steps: list[dict[str, Any]],
                  guard: float = 5e-9) -> float:
    """The largest distance from the intended level away from the steps' edges."""
    away = np.ones(times.size, dtype=bool)
    for s in steps:
        away &= (times < s["pos"] - guard) | (times > s["pos"] + s["width"] + guard)
    return float(np.max(np.abs(response[away] - intended[away])))


def main(argv: Sequence[str] | None = None) -> dict[str, float]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=4000, help="samples of the line (default %(default)s)")
    parser.add_argument("--png", default="flux_predistortion.png", help="where to save the figure")
    args = parser.parse_known_args(argv)[0]

    span = args.points / SRATE
    steps = flux_steps(span)
    record: dict[str, Any] = {"N": args.points, "srate": SRATE, "offset_global": 0.0}
    times, raw, intended = wavespec_handling.pdc2pulse(steps, record)
    _, pre, _ = wavespec_handling.pdc2pulse(steps, dict(record, extra=STAGES))

    through_raw = line_response(raw.real, STAGES)
    through_pre = line_response(pre.real, STAGES)
    errors = {"raw": settled_error(through_raw, intended.real, times, steps),
              "pre-distorted": settled_error(through_pre, intended.real, times, steps)}
    print(f"flux line: {len(steps)} level steps, {args.points} samples at {SRATE / 1e9:g} GS/s, "
          f"IIR stages {', '.join(STAGES)}")
    for name, err in errors.items():
        print(f"  {name:<14} line response strays {err:.2e} from the intended levels after the edges")

    try:
        import matplotlib.pyplot as plt

        from halvane import plot
    except ImportError:
        print(f"matplotlib is not installed: {args.png} skipped (pip install 'halvane[plot]')")
        return errors
    fig, axes = plt.subplots(3, 1, sharex=True, figsize=(9, 7.5), layout="constrained")
    plot.plot_lines({"raw": (times, raw, intended), "pre-distorted": (times, pre, intended)}, ax=axes[:2],
                    time_unit="us")
    axes[1].set_xlabel("")
    axes[2].plot(times / 1e-6, intended.real, "k--", lw=0.8, label="intended")
    axes[2].plot(times / 1e-6, through_raw, "C3", lw=0.9, label="line, raw input")
    axes[2].plot(times / 1e-6, through_pre, "C2", lw=0.9, label="line, pre-distorted input")
    axes[2].set_title("line response, A + B·e^(−t/τ) per stage", loc="left", fontsize="small")
    axes[2].set_ylabel("amplitude (full scale)", fontsize="small")
    axes[2].set_xlabel("time (us)")
    axes[2].legend(loc="upper right", fontsize="x-small")
    fig.savefig(args.png, dpi=110)
    print(f"saved {args.png}")
    return errors


if __name__ == "__main__":
    main()
