"""DRAG on a transmon: leakage and gate error of a 20 ns π pulse against drag_scale.

A transmon is not a qubit: its second excited state lies only the
anharmonicity α away from the qubit transition, and a short pulse reaches it.
DRAG adds to the pulse's envelope I its time derivative as the quadrature,
Q = drag_scale·dI/dt, and theory puts the best value at drag_scale = −1/(2α):
there the gate error is smallest, while the leakage alone falls further up
to about twice that value, at the cost of a growing phase error.
Here halvane samples the envelope of a 20 ns π pulse, cosine or (with
``--shape gauss``) Gaussian, for a sweep of drag_scale, QuTiP (the extra
``sim``: pip install 'halvane[sim]') solves the three-level transmon driven by
it, and the figure shows the leakage to the second excited state and the gate
error against drag_scale, with the prediction marked. The best drag_scale is
read off the sweep by a parabola through the smallest gate error and its two
neighbours, so a grid need not hold the prediction itself.

The transmon, in the frame rotating at its qubit frequency (rad/s):
H = (α/2)·n(n − 1) + (k/2)·(S(t)·a† + S*(t)·a), with S = I + iQ the sampled
envelope and k the Rabi rate per unit of amplitude that makes I a π pulse.

    python examples/drag_on_a_transmon.py [--shape gauss] [--points 41] [--png drag_on_a_transmon.png]
"""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from typing import Any

import numpy as np

from halvane import wavespec_handling
from halvane import waveintent_enumeration as recipes

ALPHA = 2 * np.pi * -220e6  # anharmonicity, rad/s
SRATE = 4e9
TEMPLATE = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 0,
            "phase": 0, "phase1": 0, "drag_scale": 0, "vz": 0}
CALIBRATION = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 0, "phase_offs": 0.0}}
GUARD = 2e-9  # idle time before and after the pulse


def envelope(drag_scale: float, shape: str = "cos") -> tuple[np.ndarray, np.ndarray]:
    """The sample times and the envelope S of the X π pulse with this drag_scale."""
    pd = recipes.X_p().get_pd(TEMPLATE, CALIBRATION, drag_scale=drag_scale, pos=GUARD, shape=shape)
    n = int(round((pd["width"] + 2 * GUARD) * SRATE))
    times, _, s = wavespec_handling.pdc2pulse([pd], {"N": n, "srate": SRATE, "offset_global": 0.0})
    return times, s


def gate_error(u: np.ndarray) -> float:
    """1 − average gate fidelity of the qubit block of ``u`` against X (leakage counts as error)."""
    m = u[:2, :2]
    x = np.array([[0, 1], [1, 0]])
    d = 2
    fid = (abs(np.trace(x.conj().T @ m)) ** 2 + np.trace(m.conj().T @ m).real) / (d * (d + 1))
    return float(1 - fid)


def vertex(x: np.ndarray, y: np.ndarray) -> float:
    """The x of the smallest y, refined by a parabola through it and its neighbours."""
    best = int(np.clip(np.argmin(y), 1, len(y) - 2)) if len(y) >= 3 else int(np.argmin(y))
    if len(y) < 3:
        return float(x[best])
    c2, c1, _ = np.polyfit(x[best - 1:best + 2], y[best - 1:best + 2], 2)
    return float(-c1 / (2 * c2)) if c2 > 0 else float(x[int(np.argmin(y))])


def simulate(drag_scales: np.ndarray, shape: str = "cos") -> dict[str, Any]:
    """Leakage from |0> to |2> and the gate error for each drag_scale."""
    import qutip  # type: ignore[import-untyped, unused-ignore]

    times, s = envelope(0.0, shape)
    k = np.pi / (s.real.sum() / SRATE)  # the envelope's area makes a π rotation
    a = qutip.destroy(3)
    n = a.dag() * a
    h0 = 0.5 * ALPHA * n * (n - qutip.qeye(3))
    hx = 0.5 * k * (a + a.dag())
    hy = 0.5 * k * 1j * (a.dag() - a)
    leakage, error = [], []
    for drag in drag_scales:
        times, s = envelope(float(drag), shape)
        h = qutip.QobjEvo([h0, [hx, s.real], [hy, s.imag]], tlist=times)
        u = qutip.propagator(h, times[-1], options={"atol": 1e-10, "rtol": 1e-8}).full()
        leakage.append(abs(u[2, 0]) ** 2)
        error.append(gate_error(u))
    error_ = np.array(error)
    return {"drag_scale": drag_scales, "leakage": np.array(leakage), "gate_error": error_,
            "best": vertex(drag_scales, error_)}


def main(argv: Sequence[str] | None = None) -> dict[str, Any]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shape", choices=("cos", "gauss"), default="cos",
                        help="the π pulse's shape (default %(default)s)")
    parser.add_argument("--points", type=int, default=41, help="drag_scale values (default %(default)s)")
    parser.add_argument("--png", default="drag_on_a_transmon.png", help="where to save the figure")
    args = parser.parse_known_args(argv)[0]
    try:
        import qutip  # noqa: F401
    except ImportError:
        print("QuTiP is not installed: nothing to simulate (pip install 'halvane[sim]')")
        return {}

    prediction = -1 / (2 * ALPHA)
    # From −1 to 3 times the prediction; with 4k + 1 points the prediction is one of them.
    result = simulate(np.linspace(-1, 3, args.points) * prediction, args.shape)
    result["prediction"] = prediction
    best = int(np.argmin(result["gate_error"]))
    name = {"cos": "cosine", "gauss": "Gaussian"}[args.shape]
    print(f"transmon α/2π = {ALPHA / 2 / np.pi / 1e6:g} MHz, 20 ns {name} π pulse, "
          f"DRAG prediction −1/(2α) = {prediction * 1e9:.3f} ns")
    print("  drag_scale/ns   leakage    gate error")
    for d, leak, err in zip(result["drag_scale"], result["leakage"], result["gate_error"]):
        print(f"  {d * 1e9:12.3f}   {leak:.2e}   {err:.2e}")
    print(f"  smallest gate error {result['gate_error'][best]:.2e} at drag_scale "
          f"{result['drag_scale'][best] * 1e9:.3f} ns; best drag_scale {result['best'] * 1e9:.3f} ns "
          f"({result['best'] / prediction:.3f} of the prediction)")

    try:
        import matplotlib.pyplot as plt
    except ImportError:
        print(f"matplotlib is not installed: {args.png} skipped (pip install 'halvane[plot]')")
        return result
    fig, axes = plt.subplots(2, 1, sharex=True, figsize=(7, 5.5), layout="constrained")
    ns = result["drag_scale"] / 1e-9
    for ax, key, label in ((axes[0], "leakage", "leakage |0⟩ → |2⟩"), (axes[1], "gate_error", "gate error")):
        ax.semilogy(ns, result[key], "o-", ms=3)
        ax.axvline(prediction / 1e-9, color="C3", ls="--", lw=1, label="−1/(2α)")
        ax.axvline(result["best"] / 1e-9, color="C2", ls=":", lw=1, label="best")
        ax.set_ylabel(label)
        ax.legend(loc="best", fontsize="small")
    axes[1].set_xlabel("drag_scale (ns)")
    fig.savefig(args.png, dpi=110)
    print(f"saved {args.png}")
    return result


if __name__ == "__main__":
    main()
