"""Quickstart: the whole road from gate names to sampled waveforms.

A small two-qubit device is written out below: every control line has a
template pulse description and every qubit its calibration. Gates get rules
(which pulses each of their lines plays), a short circuit is written and
scheduled as soon as possible, the pulses are collected per line, and every
line is sampled into complex waveforms.
"""

import numpy as np

from halvane import circuit, rule, wavespec_handling
from halvane import waveintent_enumeration as r

# ---- the device ----------------------------------------------------------

def xy_template(freq):
    """Template of a drive or readout line: cosine pulses on a carrier."""
    return {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": freq,
            "phase": 0, "phase1": 0, "drag_scale": 0, "vz": 0}


def qubit_calibration(amp_pi, drag):
    """The pi, pi/2 and readout calibration of one qubit."""
    rot = {"width": 40e-9, "plateau": 0, "drag_scale": drag, "phase_offs": 0.0}
    return {
        "pi": dict(rot, amp=amp_pi),
        "pi2": dict(rot, amp=amp_pi / 2),
        "M01": {"shape": "square", "amp": 0.08, "width": 0, "plateau": 400e-9},
    }


# Carriers at intermediate frequencies: the instruments' mixers bring them up.
XY = {0: xy_template(110e6), 1: xy_template(-95e6)}
RO = {0: xy_template(40e6), 1: xy_template(55e6)}
FLUX = {"shape": "hcos", "pos": 0, "width": 10e-9, "plateau": 50e-9, "amp": 0, "freq": 0,
        "phase": 0, "phase1": 0, "vz": 0}
CAL = {0: qubit_calibration(0.52, 0.35e-9), 1: qubit_calibration(0.47, 0.31e-9)}


def single(q):
    """What a rule for one qubit sees: its drive line 'd' and readout line 'm'."""
    return {"d": {"nm": f"q{q}_xy", "pdt": XY[q], "cp": CAL[q]},
            "m": {"nm": f"q{q}_ro", "pdt": RO[q], "cp": CAL[q]}}


qubits_info = {
    "0": single(0),
    "1": single(1),
    # The CZ of the pair: a flux pulse on the coupler and virtual-Z corrections.
    "0x1": {"c": {"nm": "c01_z", "pdt": FLUX, "cp": {"fp": {"amp": 0.21}}},
            "d0": {"nm": "q0_xy", "pdt": XY[0], "cp": {"vz": 0.13}},
            "d1": {"nm": "q1_xy", "pdt": XY[1], "cp": {"vz": -0.07}}},
}

rules = {
    "X": rule.RULE(d=[[r.X_p()]]),
    "Y2": rule.RULE(d=[[r.Y2_p()]]),
    "mX2": rule.RULE(d=[[r.mX2_p()]]),
    "CZ": rule.RULE(c=[[r.F_p()]], d0=[[r.Vz_p()]], d1=[[r.Vz_p()]], _align="center"),
    "B": rule.RULE(),
    "M": rule.RULE(m=[[r.M_p()]]),
}

# ---- the circuit ---------------------------------------------------------

circuit.instructification(list(rules), globals())
circ = circuit.Circuit([
    Y2(0), X(1),                       # noqa: F821 - made by instructification
    CZ(0, 1, c__amp=0.23),             # noqa: F821 - a targeted keyword for the coupler line
    mX2(0),                            # noqa: F821
    B(),                               # noqa: F821 - a barrier across every qubit
    M(0), M(1),                        # noqa: F821
])
print("circuit:")
circuit.print_circuit(circ)

circuit.semi_apply(circ, rules, qubits_info)
circuit.ASAP(circ)
print("\nschedule (ASAP):")
for ins in circ.ins:
    print(f"  {str(ins):<22} starts {ins.pos * 1e9:7.1f} ns  lasts {ins.dur * 1e9:6.1f} ns")

# ---- collection and sampling ---------------------------------------------

pdc = circuit.collect_pdc(circ)
end = max(ins.pos + ins.dur for ins in circ.ins)
srate = 2e9
record = {"N": int(np.ceil((end + 20e-9) * srate)), "srate": srate, "offset_global": 0.0}

print(f"\nlines sampled at {srate / 1e9:g} GS/s, {record['N']} samples each:")
sampled = {}
for line, pds in pdc.items():
    X, W, S = wavespec_handling.pdc2pulse(pds, record)
    sampled[line] = (X, W, S)
    busy = np.flatnonzero(np.abs(S) > 1e-9)
    span = f"{X[busy[0]] * 1e9:6.1f} .. {X[busy[-1]] * 1e9:6.1f} ns" if busy.size else "idle"
    print(f"  {line:<6} {len(pds)} pulses   peak |W| {np.abs(W).max():.3f}   active {span}")

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    pass
else:
    fig, axes = plt.subplots(len(sampled), 1, sharex=True, figsize=(8, 1.6 * len(sampled)))
    for ax, (line, (X, W, S)) in zip(axes, sampled.items()):
        ax.plot(X * 1e9, W.real, lw=0.6, label="W (modulated)")
        ax.plot(X * 1e9, np.abs(S), lw=1.2, label="|S| (envelope)")
        ax.set_ylabel(line)
    axes[0].legend(loc="upper right", fontsize="small")
    axes[-1].set_xlabel("time / ns")
    fig.tight_layout()
    fig.savefig("quickstart.png", dpi=120)
    print("\nsaved quickstart.png")
