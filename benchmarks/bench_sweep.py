"""Sweeps that compile once: halvane.sweep against compiling and sampling every point.

    PYTHONPATH=build/b/pkg python benchmarks/bench_sweep.py [--repeat 5] [--no-dask]

Workloads:
  (s1) an amplitude x phase sweep (40 x 25 points) of one gate in a circuit of
       10 drive lines, 10^5 samples a line, 2,000 pulses in all: per point,
       iterating the Sweep against compiling (rules, ASAP, collection) and
       sampling the point afresh; and Sweep.sample(index, out=...) into the
       swept line's buffers against np.copyto of a ready result into them;
  (s2) a pos sweep of one flux pulse (the 100th of 200) on a line of 10^5
       samples with two IIR stages: per point, iterating the Sweep against
       sampling the line afresh; and the same for the line's first pulse,
       whose response runs over the whole line;
  (s3) a chevron, plateau x amplitude (100 x 100 points) of that flux
       pulse, through Sweep.map on a two-worker LocalCluster with a cheap fn,
       against the same map serially: the distributed overhead per point,
       the cluster run's wall time beyond the time its workers spent
       computing (from Dask's task stream, shared by the two workers),
       against the serial time per point. The wall time against half the
       serial time is printed too; on a machine whose cores other work
       shares, that one says more about the load than about Dask.
Each pair runs interleaved in one process, and the results are checked
against the afresh ones first.
"""

import argparse
import copy
import pathlib
import statistics
import sys
import time

import numpy as np

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
import reference as ref  # noqa: E402

from halvane import circuit, rule  # noqa: E402
from halvane import waveintent_enumeration as we  # noqa: E402
from halvane import wavespec_handling as wh  # noqa: E402
from halvane.sweep import Axis, Sweep  # noqa: E402

SRATE = 2e9
N = 100_000


def interleaved(fs, repeat):
    """Median seconds of each function, run in turn `repeat` times after one untimed round."""
    for f in fs:
        f()
    times = [[] for _ in fs]
    for _ in range(repeat):
        for ts, f in zip(times, fs):
            t = time.perf_counter()
            f()
            ts.append(time.perf_counter() - t)
    return [statistics.median(ts) for ts in times]


def per_point(runs, repeat):
    """Median seconds a point of each run: runs yield once per point, and they
    take turns `repeat` times after one untimed round. Medians, as a loaded
    machine stops a process now and then for far longer than a point takes."""
    times = [[] for _ in runs]
    for k in range(repeat + 1):
        for ts, run in zip(times, runs):
            t = time.perf_counter()
            for _ in run():
                now = time.perf_counter()
                if k:
                    ts.append(now - t)
                t = time.perf_counter()
    return [statistics.median(ts) for ts in times]


def assert_point(got, want):
    for name, (X, W, S) in want.items():
        for g, w in ((got[name][1], W), (got[name][2], S)):
            peak = np.abs(w).max()
            ref.assert_close(g / peak, w / peak)


# ---- (s1) ----------------------------------------------------------------------

TEMPLATE = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 100e6, "phase": 0,
            "phase1": 0, "vz": 0, "drag_scale": 0.2e-9}
CAL = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 0, "phase_offs": 0}}
QUBITS = {str(q): {"d": {"nm": f"q{q}_xy", "pdt": dict(TEMPLATE, freq=90e6 + 3e6 * q), "cp": CAL}} for q in range(10)}
RULES = {"X": rule.RULE(d=[[we.X_p()]]), "Y": rule.RULE(d=[[we.Y_p()]])}
GATES: dict = {}
circuit.instructification(list(RULES), GATES)
RECORD = {"N": N, "srate": SRATE, "offset_global": 0.0}


def compile_point(**gate):
    """200 layers of X and Y on 10 qubits; the middle X of qubit 3 takes `gate`."""
    X, Y = GATES["X"], GATES["Y"]
    ins = [(X if (layer + q) % 2 else Y)(q, **(gate if (layer, q) == (100, 3) else {}))
           for layer in range(200) for q in range(10)]
    circ = circuit.Circuit(ins)
    circuit.semi_apply(circ, RULES, QUBITS)
    circuit.ASAP(circ)
    return circuit.collect_pdc(circ)


def s1(repeat):
    amps, phases = np.linspace(-0.6, 0.6, 40), np.linspace(-np.pi, np.pi, 25, endpoint=False)
    lines = compile_point(d__sweep="gate")
    assert sum(map(len, lines.values())) == 2000 and len(lines) == 10
    sweep = Sweep(lines, RECORD, {"amp": Axis("amp", amps, tag="gate"), "phase": Axis("phase", phases, tag="gate")})
    afresh = lambda i, j: wh.sample_lines(compile_point(d__amp=float(amps[i]), d__phase=float(phases[j])), RECORD)
    for (i, j), got in sweep:
        if (i * 25 + j) % 333 == 0:
            assert_point(got, afresh(i, j))
    picks = [(7, 3), (21, 17), (33, 9)]
    per_iter, per_fresh = per_point([lambda: sweep, lambda: (afresh(i, j) for i, j in picks)], repeat)
    print(f"(s1) 40 x 25 amplitude x phase of one gate, 10 lines of 10^5 samples, 2,000 pulses:\n"
          f"     compile and sample afresh {per_fresh * 1e3:7.2f} ms a point   iterating the Sweep "
          f"{per_iter * 1e6:7.1f} µs a point   {per_fresh / per_iter:6.0f}x")
    W, S = np.empty(N, complex), np.empty(N, complex)
    ready = sweep.sample(5)["q3_xy"]
    out = {"q3_xy": (W, S)}
    t_out, t_copy = interleaved([lambda: sweep.sample(5, out=out),
                                 lambda: (np.copyto(W, ready[1]), np.copyto(S, ready[2]))], 20 * repeat)
    print(f"     sample(index, out=...) {t_out * 1e6:7.1f} µs   np.copyto of its two arrays {t_copy * 1e6:7.1f} µs"
          f"   {t_out / t_copy:4.2f}x the copy")


# ---- (s2), (s3) ----------------------------------------------------------------

FILTERED = {"N": N, "srate": SRATE, "offset_global": 0.0,
            "extra": {"fast": [1.0, 0.05, 2e-8, 0.5e-9], "slow": [1.0, -0.1, 1e-6, 0.5e-9]}}


def flux_line():
    return [{"shape": "hcos", "pos": 100e-9 + k * 240e-9, "width": 10e-9, "plateau": 40e-9, "amp": 0.2,
             "freq": 0, "phase": 0, "phase1": 0} for k in range(200)]


def s2(repeat, k):
    pds = flux_line()
    pds[k]["sweep"] = "flux"
    positions = pds[k]["pos"] + np.linspace(-60e-9, 60e-9, 101)
    sweep = Sweep({"z": pds}, FILTERED, {"pos": Axis("pos", positions, tag="flux")})

    moved = {}
    for i in range(len(positions)):  # the point's descriptions, made before any timing
        moved[i] = copy.deepcopy(pds)
        moved[i][k]["pos"] = float(positions[i])

    def afresh(i):
        return {"z": wh.pdc2pulse(moved[i], FILTERED)}

    for (i,), got in sweep:
        if i % 25 == 0:
            assert_point(got, afresh(i))

    per_iter, per_fresh = per_point([lambda: sweep, lambda: (afresh(i) for i in (3, 50, 97))], repeat)
    where = "the 100th of 200" if k else "the first"
    print(f"(s2) pos of {where} flux pulse, two IIR stages, 10^5 samples: sampled afresh {per_fresh * 1e6:7.1f} µs"
          f" a point   iterating the Sweep {per_iter * 1e6:7.1f} µs a point   {per_fresh / per_iter:5.1f}x")


def cheap(index, lines):
    return complex(lines["z"][1][50_000])


def chevron():
    pds = flux_line()
    pds[100]["sweep"] = "flux"
    return Sweep({"z": pds}, FILTERED, {"plateau": Axis("plateau", np.linspace(10e-9, 60e-9, 100), tag="flux"),
                                        "amp": Axis("amp", np.linspace(0.1, 0.3, 100), tag="flux")})


def s3(repeat):
    from dask.distributed import Client, LocalCluster, get_task_stream

    sweep = chevron()
    n = len(sweep)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        want = sweep.map(cheap)
        assert sweep.map(cheap, client=client) == want
        walls, busy, serial = [], [], []
        for _ in range(repeat):
            t = time.perf_counter()
            sweep.map(cheap)
            serial.append(time.perf_counter() - t)
            with get_task_stream(client) as stream:
                t = time.perf_counter()
                sweep.map(cheap, client=client)
                walls.append(time.perf_counter() - t)
            busy.append(sum(p["stop"] - p["start"] for task in stream.data for p in task["startstops"]
                            if p["action"] == "compute"))
    t_serial, t_dist, t_busy = (statistics.median(v) for v in (serial, walls, busy))
    overhead = (t_dist - t_busy / 2) / n
    print(f"(s3) chevron of 10^4 points through Sweep.map: serially {t_serial:6.2f} s   on 2 Dask workers "
          f"{t_dist:6.2f} s, of which the workers computed {t_busy:6.2f} s\n"
          f"     overhead (wall time beyond the workers' computing, shared by two) {overhead * 1e6:6.1f} µs a point"
          f" = {overhead / (t_serial / n):5.1%} of the serial {t_serial / n * 1e6:6.1f} µs a point"
          f"   (wall time against the serial time halved: {t_dist / (t_serial / 2):4.2f}x)")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--no-dask", action="store_true", help="leave (s3) out")
    args = ap.parse_args()
    s1(args.repeat)
    s2(args.repeat, 100)
    s2(args.repeat, 0)
    if not args.no_dask:
        s3(max(1, args.repeat // 2))


if __name__ == "__main__":
    main()
