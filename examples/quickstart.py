"""Quickstart: the whole road from gate names to sampled waveforms.

A small two-qubit device is written out below: every control line has a
template pulse description and every qubit its calibration. Gates get rules
(which pulses each of their lines plays), a short circuit is written and
scheduled as soon as possible and printed as a table, the pulses are
collected per line, the virtual Z phases are folded into the pulses that
follow them, every line is sampled into complex waveforms, and (with
matplotlib) the schedule and the lines are drawn into quickstart.png.
"""

import argparse
from collections.abc import Callable

import numpy as np

from halvane import circuit, rule, wavespec_handling
from halvane import waveintent_enumeration as r
from halvane.schedule import schedule_table

# Unknown arguments (a notebook kernel's own) are left alone.
parser = argparse.ArgumentParser(description="The whole road from gate names to sampled waveforms.")
parser.add_argument("--png", default="quickstart.png", help="where to save the picture (default %(default)s)")
png = parser.parse_known_args()[0].png

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

# One constructor per gate name, kept in a dict of its own: gate["CZ"](0, 1)
# builds the instruction CZ(0,1). (instructification(names, globals()) would
# bind them as bare names X, CZ, ... instead.)
gate: dict[str, Callable[..., circuit.INSTRUCTION]] = {}
circuit.instructification(list(rules), gate)
circ = circuit.Circuit([
    gate["Y2"](0), gate["X"](1),
    gate["CZ"](0, 1, c__amp=0.23),     # a targeted keyword for the coupler line
    gate["mX2"](0),
    gate["B"](),                       # a barrier across every qubit
    gate["M"](0), gate["M"](1),
])
print("circuit:")
circuit.print_circuit(circ)

circuit.semi_apply(circ, rules, qubits_info)
circuit.ASAP(circ)
print(f"\nschedule (ASAP), {circ!r}:")
table = schedule_table(circ)
print(table)

# ---- collection and sampling ---------------------------------------------

# The virtual Z of the CZ's corrections (and any rotation's phase_offs) turns
# the pulses that follow it on the same line: fold it in before sampling.
pdc, vz_events = circuit.fold_vz(circuit.collect_pdc(circ))
print("\nvirtual Z folded into the later pulses:")
for time, line, increment, after in vz_events:
    print(f"  {time * 1e9:6.1f} ns  {line:<6} {increment:+.3f} rad, frame phase then {after:+.3f} rad")
end = max(row["end"] for row in table.rows)
srate = 2e9
record = {"N": int(np.ceil((end + 20e-9) * srate)), "srate": srate, "offset_global": 0.0}

print(f"\nlines sampled at {srate / 1e9:g} GS/s, {record['N']} samples each:")
sampled = {}
for line, pds in pdc.items():
    times, w, s = wavespec_handling.pdc2pulse(pds, record)
    sampled[line] = (times, w, s)
    busy = np.flatnonzero(np.abs(s) > 1e-9)
    span = f"{times[busy[0]] * 1e9:6.1f} .. {times[busy[-1]] * 1e9:6.1f} ns" if busy.size else "idle"
    print(f"  {line:<6} {len(pds)} pulses   peak |W| {np.abs(w).max():.3f}   active {span}")

# ---- the picture ---------------------------------------------------------

try:
    import matplotlib.pyplot as plt

    from halvane import plot
except ImportError:
    print(f"\nmatplotlib is not installed: {png} skipped (pip install 'halvane[plot]')")
else:
    fig, axes = plt.subplots(len(sampled) + 1, 1, sharex=True, figsize=(9, 1.7 * (len(sampled) + 2)),
                             height_ratios=[2] + [1] * len(sampled), layout="constrained")
    plot.plot_schedule(circ, ax=axes[0])
    axes[0].set_xlabel("")
    plot.plot_lines(sampled, ax=axes[1:])
    fig.savefig(png, dpi=110)
    print(f"\nsaved {png}")
