"""A calibration sweep on an existing engine: serially, on processes, on Dask.

Each point of the sweep is one variant of a two-qubit circuit, a sequence of
rounds as in a benchmarking run: the amplitude of the pi pulses on qubit 1
and the phase of the second pi/2 pulse on qubit 0 change from point to point. Every variant is compiled (rules,
ASAP scheduling, collection per line) and its lines are sampled. The same
sweep runs three times: in this process, on a
concurrent.futures.ProcessPoolExecutor, and on a dask.distributed
LocalCluster (pip install "halvane[dask]"); the script prints the time of
each and checks that all three give the same waveforms (to the last bit).

    python examples/sweep.py [--points 1000] [--workers 2]

A worker samples its lines with sample_lines on one thread: the processes
already keep the cores busy.
"""

import argparse
import concurrent.futures
import hashlib
import multiprocessing
import time
from collections.abc import Callable

import numpy as np

from halvane import circuit, rule, wavespec_handling
from halvane import waveintent_enumeration as r

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


DEPTH = 60  # rounds of the sequence below, as in a benchmarking run


def variant(point):
    """Compile and sample one point (amplitude, phase).

    Returns line name -> a digest of its samples W: a real sweep would hand
    the waveforms to the instruments right here, in the worker; sending them
    back would cost more than making them."""
    amp, phase = point
    X, Y2, CZ, M = GATES["X"], GATES["Y2"], GATES["CZ"], GATES["M"]
    rounds = [[Y2(0), X(1, d__amp=amp), CZ(0, 1), Y2(0, d__phase=phase)] for _ in range(DEPTH)]
    circ = circuit.Circuit([g for gates in rounds for g in gates] + [M(0), M(1)])
    circuit.semi_apply(circ, RULES, QUBITS)
    circuit.ASAP(circ)
    lines = circuit.collect_pdc(circ)
    end = max(ins.pos + ins.dur for ins in circ.ins)
    record = {"N": int(np.ceil(end * SRATE)), "srate": SRATE, "offset_global": 0.0}
    sampled = wavespec_handling.sample_lines(lines, record, threads=1)
    return {name: hashlib.sha256(W.tobytes()).hexdigest() for name, (X_, W, S) in sampled.items()}


def points(n):
    """n points of an amplitude axis times a phase axis, in order."""
    side = int(np.ceil(np.sqrt(n)))
    amps, phases = np.linspace(0.2, 0.6, side), np.linspace(-np.pi, np.pi, side)
    return [(float(a), float(p)) for a in amps for p in phases][:n]


# ---- the three engines -----------------------------------------------------

def run_serial(pts):
    return [variant(p) for p in pts]


def run_processes(pts, workers, context=None):
    with concurrent.futures.ProcessPoolExecutor(workers, mp_context=context) as pool:
        return list(pool.map(variant, pts, chunksize=max(1, len(pts) // (4 * workers))))


def run_dask(pts, workers):
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        return client.gather(client.map(variant, pts, batch_size=max(1, len(pts) // (4 * workers))))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--points", type=int, default=1000, help="points of the sweep (default 1000)")
    ap.add_argument("--workers", type=int, default=2, help="processes of the pool and the cluster")
    args = ap.parse_args()
    pts = points(args.points)

    runs = {"serial": lambda: run_serial(pts),
            "ProcessPoolExecutor": lambda: run_processes(pts, args.workers,
                                                         multiprocessing.get_context("spawn"))}
    try:
        import dask.distributed  # noqa: F401
    except ImportError:
        print("dask.distributed is not installed (pip install 'halvane[dask]'): the cluster run is left out")
    else:
        runs["dask LocalCluster"] = lambda: run_dask(pts, args.workers)

    results = {}
    for name, run in runs.items():
        t = time.perf_counter()
        results[name] = run()
        print(f"{name:<20} {len(pts)} points in {time.perf_counter() - t:6.2f} s")
    reference = results.pop("serial")
    for name, got in results.items():
        assert got == reference, f"{name} gave other waveforms than the serial run"
    print(f"all runs give the same waveforms ({len(reference[0])} lines per point)")


if __name__ == "__main__":
    main()
