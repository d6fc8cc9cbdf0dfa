"""Virtual Z: X90 · VZ(θ) · X90 on a simulated qubit, against the cos² law.

A virtual Z costs no pulse: it turns the phase of every later pulse of its
frame. halvane's recipes write it into the key ``vz`` and
``circuit.fold_vz`` turns the later pulses by it. A pulse of phase φ turns
the qubit about cos φ·x + sin φ·y, so an increment ``vz = δ`` acts as
Rz(−δ): the gate VZ(θ) is calibrated as ``cp['vz'] = -θ``.

For each θ the circuit X90 · VZ(θ) · X90 is compiled, folded and sampled,
and the qubit is driven by the sampled envelope (held constant over each
sample, in the frame rotating at the qubit frequency). From |0>, X90 and
Rz(θ) and X90 leave P1 = cos²(θ/2): at θ = 0 the two halves make a π
pulse, at θ = ±π they undo each other. The figure shows P1 over that law.

    python examples/virtual_z.py [--points 41] [--png virtual_z.png]
"""

from __future__ import annotations

import argparse
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np

from halvane import circuit, rule, wavespec_handling
from halvane import waveintent_enumeration as recipes

SRATE = 2e9
TEMPLATE = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 80e6,
            "phase": 0, "phase1": 0, "drag_scale": 0, "vz": 0}
PI2 = {"amp": 0.5, "width": 40e-9, "plateau": 0, "phase_offs": 0.0}
RULES = {"X2": rule.RULE(d=[[recipes.X2_p()]]), "VZ": rule.RULE(d=[[recipes.Vz_p()]])}
GATE: dict[str, Callable[..., circuit.INSTRUCTION]] = {}
circuit.instructification(list(RULES), GATE)
RECORD = {"N": 200, "srate": SRATE, "offset_global": 0.0}


def envelope(theta: float) -> np.ndarray:
    """The sampled envelope of X90 · VZ(θ) · X90 on the qubit's drive line, folded."""
    circ = circuit.Circuit([GATE["X2"](0), GATE["VZ"](0), GATE["X2"](0)])
    qubits_info = {"0": {"d": {"nm": "q0_xy", "pdt": TEMPLATE, "cp": {"pi2": PI2, "vz": -theta}}}}
    circuit.semi_apply(circ, RULES, qubits_info)
    folded, _ = circuit.fold_vz(circuit.collect_pdc(circuit.ASAP(circ)))
    _, _, s = wavespec_handling.pdc2pulse(folded["q0_xy"], RECORD)
    return s


def excited_population(s: np.ndarray, rabi: float) -> float:
    """P1 after driving |0> with the envelope s: each sample k turns the qubit
    by rabi·|s_k|/SRATE about cos(arg s_k)·x + sin(arg s_k)·y."""
    psi = np.array([1.0, 0.0], dtype=complex)
    for sk in s[np.abs(s) > 0]:
        half, phi = rabi * abs(sk) / SRATE / 2, np.angle(sk)
        u = np.array([[np.cos(half), -1j * np.sin(half) * np.exp(-1j * phi)],
                      [-1j * np.sin(half) * np.exp(1j * phi), np.cos(half)]])
        psi = u @ psi
    return float(abs(psi[1]) ** 2)


def main(argv: Sequence[str] | None = None) -> dict[str, Any]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=41, help="values of θ in [−π, π] (default %(default)s)")
    parser.add_argument("--png", default="virtual_z.png", help="where to save the figure")
    args = parser.parse_known_args(argv)[0]

    # The drive strength that makes one X90 pulse, as sampled, a quarter turn.
    _, _, single = wavespec_handling.pdc2pulse([recipes.X2_p().get_pd(TEMPLATE, {"pi2": PI2})], RECORD)
    rabi = (np.pi / 2) / (np.abs(single).sum() / SRATE)
    thetas = np.linspace(-np.pi, np.pi, args.points)
    p1 = np.array([excited_population(envelope(float(theta)), rabi) for theta in thetas])
    law = np.cos(thetas / 2) ** 2
    deviation = float(np.abs(p1 - law).max())
    print(f"X90 · VZ(θ) · X90 over {args.points} values of θ in [−π, π], folded with circuit.fold_vz")
    print("   θ/rad     P1     cos²(θ/2)")
    for theta, p, c in zip(thetas, p1, law):
        print(f"  {theta:+.3f}   {p:.6f}   {c:.6f}")
    print(f"largest deviation from cos²(θ/2): {deviation:.1e}")
    result = {"theta": thetas, "p1": p1, "deviation": deviation}

    try:
        import matplotlib.pyplot as plt
    except ImportError:
        print(f"matplotlib is not installed: {args.png} skipped (pip install 'halvane[plot]')")
        return result
    fig, ax = plt.subplots(figsize=(6.5, 3.8), layout="constrained")
    fine = np.linspace(-np.pi, np.pi, 400)
    ax.plot(fine, np.cos(fine / 2) ** 2, color="0.6", lw=2, label="cos²(θ/2)")
    ax.plot(thetas, p1, "o", ms=4, color="C0", label="sampled pulses, folded")
    ax.set_xlabel("θ of VZ(θ) (rad)")
    ax.set_ylabel("P1 after X90 · VZ(θ) · X90")
    ax.legend(loc="best", fontsize="small")
    fig.savefig(args.png, dpi=110)
    print(f"saved {args.png}")
    return result


if __name__ == "__main__":
    main()
