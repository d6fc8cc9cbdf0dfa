"""A 2-D amplitude x phase sweep of one gate, compiled once.

The circuit runs DEPTH rounds of Y2(0) X(1) CZ(0,1) Y2(0) on two qubits
(drive, readout and a coupler's flux line: five lines). The amplitude and the
phase of one X gate in the middle, tagged with d__sweep='gate', change from
point to point. The sweep runs three ways:

1. compiling and sampling every point afresh (rules, ASAP, collection,
   sample_lines): the reference;
2. a halvane.sweep.Sweep, serially: the lines are sampled once without the
   gate, its pulse is rendered once, and each point is that rendering times
   amp * exp(1j * phase) added to the gate's samples;
3. Sweep.map on a dask.distributed LocalCluster (pip install
   "halvane[dask]"): the sweep goes to each worker once and the points go
   in chunks of about 100 ms of work each.

Each run hands the gate's drive line W to the same function; the script
prints the time of each run and the largest deviation of runs 2 and 3 from
the reference, relative to the line's peak.

    python examples/sweep.py [--points 1000] [--workers 2]
"""

import argparse
import contextlib
import math
import time
from collections.abc import Callable

import numpy as np

from halvane import circuit, rule, wavespec_handling
from halvane import waveintent_enumeration as r
from halvane.sweep import Axis, Sweep

# ---- the device: two qubits, their drive and readout lines, a coupler ------


def template(freq):
    return {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": freq,
            "phase": 0, "phase1": 0, "drag_scale": 0, "vz": 0}


def calibration(amp_pi):
    rot = {"width": 40e-9, "plateau": 0, "drag_scale": 0.3e-9, "phase_offs": 0.0}
    return {"pi": dict(rot, amp=amp_pi), "pi2": dict(rot, amp=amp_pi / 2),
            "M01": {"shape": "square", "amp": 0.08, "width": 0, "plateau": 200e-9}}


FLUX = {"shape": "hcos", "pos": 0, "width": 10e-9, "plateau": 40e-9, "amp": 0, "freq": 0,
        "phase": 0, "phase1": 0, "vz": 0}
QUBITS = {
    str(q): {"d": {"nm": f"q{q}_xy", "pdt": template(100e6 - 30e6 * q), "cp": calibration(0.5 - 0.04 * q)},
             "m": {"nm": f"q{q}_ro", "pdt": template(40e6 + 10e6 * q), "cp": calibration(0.5)}}
    for q in (0, 1)
}
QUBITS["0x1"] = {"c": {"nm": "c01_z", "pdt": FLUX, "cp": {"fp": {"amp": 0.21}}}}
RULES = {"X": rule.RULE(d=[[r.X_p()]]), "Y2": rule.RULE(d=[[r.Y2_p()]]),
         "CZ": rule.RULE(c=[[r.F_p()]]), "M": rule.RULE(m=[[r.M_p()]])}
GATES: dict[str, Callable[..., circuit.INSTRUCTION]] = {}
circuit.instructification(list(RULES), GATES)
SRATE = 2e9
DEPTH = 20  # rounds of the sequence
LINE = "q1_xy"  # the swept gate's line


def compile_lines(**gate):
    """The circuit's lines and sampling record; `gate` are the keywords of the swept X."""
    X, Y2, CZ, M = GATES["X"], GATES["Y2"], GATES["CZ"], GATES["M"]
    rounds = [[Y2(0), X(1, **gate) if k == DEPTH // 2 else X(1), CZ(0, 1), Y2(0)] for k in range(DEPTH)]
    circ = circuit.Circuit([g for gates in rounds for g in gates] + [M(0), M(1)])
    circuit.semi_apply(circ, RULES, QUBITS)
    circuit.ASAP(circ)
    end = max(ins.pos + ins.dur for ins in circ.ins)
    return circuit.collect_pdc(circ), {"N": int(np.ceil(end * SRATE)), "srate": SRATE, "offset_global": 0.0}


def grid(points):
    """An amplitude axis and a phase axis with at least `points` points together."""
    n_amp = max(1, math.isqrt(points))
    n_phase = max(1, -(-points // n_amp))
    return np.linspace(-0.6, 0.6, n_amp), np.linspace(-np.pi, np.pi, n_phase, endpoint=False)


def gate_line(index, lines):
    """What each run hands on: here a copy of the gate's line (a real sweep
    would send it to the instruments, in the worker)."""
    return lines[LINE][1].copy()


# ---- the three runs ---------------------------------------------------------

def run_compiled(amps, phases):
    out = []
    for amp in amps:
        for phase in phases:
            lines, record = compile_lines(d__amp=float(amp), d__phase=float(phase))
            sampled = wavespec_handling.sample_lines(lines, record, threads=1)
            out.append(gate_line((), sampled))
    return out


def make_sweep(amps, phases):
    lines, record = compile_lines(d__sweep="gate")
    return Sweep(lines, record, {"amp": Axis("amp", amps, tag="gate"), "phase": Axis("phase", phases, tag="gate")})


def run_sweep(amps, phases):
    return make_sweep(amps, phases).map(gate_line)


def run_dask(amps, phases, client):
    return make_sweep(amps, phases).map(gate_line, client=client)


def deviation(got, reference):
    """The largest |difference| over all points, relative to the line's peak."""
    return max(float(np.abs(g - w).max() / np.abs(w).max()) for g, w in zip(got, reference, strict=True))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--points", type=int, default=1000, help="points of the sweep, at least (default 1000)")
    ap.add_argument("--workers", type=int, default=2, help="workers of the Dask cluster (default 2)")
    args = ap.parse_args(argv)
    amps, phases = grid(args.points)
    runs = {"compiled per point": lambda: run_compiled(amps, phases),
            "Sweep, serially": lambda: run_sweep(amps, phases)}
    print(f"{len(amps)} amplitudes x {len(phases)} phases = {len(amps) * len(phases)} points")
    with contextlib.ExitStack() as stack:
        try:
            from dask.distributed import Client, LocalCluster
        except ImportError:
            print("dask.distributed is not installed (pip install 'halvane[dask]'): the cluster run is left out")
        else:
            t = time.perf_counter()
            cluster = stack.enter_context(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                                       dashboard_address=None))
            client = stack.enter_context(Client(cluster))
            print(f"a LocalCluster of {args.workers} workers started in {time.perf_counter() - t:.2f} s (not counted)")
            runs[f"Sweep.map, Dask ({args.workers} workers)"] = lambda: run_dask(amps, phases, client)
        results, report = {}, {}
        for name, run in runs.items():
            t = time.perf_counter()
            results[name] = run()
            report[name] = {"seconds": time.perf_counter() - t}
    reference = results.pop("compiled per point")
    print(f"{'compiled per point':<28} {report['compiled per point']['seconds']:7.2f} s   (the reference)")
    for name, got in results.items():
        report[name]["deviation"] = deviation(got, reference)
        print(f"{name:<28} {report[name]['seconds']:7.2f} s   largest deviation "
              f"{report[name]['deviation']:.1e} of the line's peak")
    return report


if __name__ == "__main__":
    main()
