"""Compiling circuits: halvane against the pure-Python code it replaces.

Workload: a circuit of 20 qubits x 500 layers of random single-qubit
rotations and CZ gates (with a measurement of every qubit at the end), per-qubit
rules and calibration, run through rule application, ASAP or ALAP scheduling
and collection per line. The baseline below is a straightforward Python
transcription of the same algorithms (keyword routing, recipes, rules, rule
selection, instructions, scheduling, collection); both run in one process,
interleaved, and must produce equal pulse descriptions. Then the cost per
instruction at 10^3, 10^4 and 10^5 instructions. Last, circuit.fold_vz on
the 500-layer circuit's collected lines, against a plain-Python fold and
against the compile that collected them.

Each run also reports the figures with the cyclic garbage collector paused:
its full collections traverse the whole live circuit, cost both
implementations the same, and at 10^5 instructions are a large part of the
time. numpy's BLAS threads, which this workload never uses, are kept to one
so that they do not spin on a shared machine.

    OPENBLAS_NUM_THREADS=1 PYTHONPATH=build/c/pkg python benchmarks/bench_compile.py [--repeat N]
"""

import argparse
import bisect
import gc
import math
import random
import statistics
import time

import numpy as np

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent_enumeration as hw


# ---- baseline: the same algorithms in plain Python ------------------------

def u2split(k):
    return [p for p in k.split("__") if p != ""]


def join_kw(s):
    r = ""
    for i, e in enumerate(s):
        r += e
        if i != len(s) - 1:
            r += "__"
    return r


def catch(kwds, w):
    kw = {}
    for k, v in kwds.items():
        ks = u2split(k)
        if len(ks) == 1:
            kw[k] = v
        elif ks[0] == w or ks[0] == "X":
            kw[join_kw(ks[1:])] = v
    return kw


def to_xqubits(qubits):
    return "x".join(str(q) for q in qubits)


def pulse_duration(pd):
    return pd["width"] + pd["plateau"]


def isit(w, t):
    return hasattr(w, "__maj_type__") and w.__maj_type__ == t


class WaveIntent:
    __maj_type__ = "WaveIntent"

    def __init__(self, **kwds):
        self.kw = kwds

    def get_pd(self, pdt, cp={}, **kwds_):
        w = pdt.copy()
        self.will(w, cp)
        w.update(self.kw)
        w.update(kwds_)
        return w

    def will(self, w, cp):
        pass


def pi_gate(w, cp):
    w.update(cp["pi"])
    w["vz"] += cp["pi"]["phase_offs"]


def pi2gate(w, cp):
    w.update(cp["pi2"])
    w["vz"] += cp["pi2"]["phase_offs"]


def rotation(gate, phase):
    class Rotation(WaveIntent):
        def will(self, w, cp):
            gate(w, cp)
            w["phase"] = phase
    return Rotation


PY_RECIPES = {
    "X_p": rotation(pi_gate, 0), "Y_p": rotation(pi_gate, np.pi / 2),
    "X2_p": rotation(pi2gate, 0), "Y2_p": rotation(pi2gate, np.pi / 2),
    "mX2_p": rotation(pi2gate, np.pi), "mY2_p": rotation(pi2gate, 3 * np.pi / 2),
}


class F_p(WaveIntent):
    def will(self, w, cp):
        w.update(cp["fp"])
        w["freq"] = 0


class Vz_p(WaveIntent):
    def will(self, w, cp):
        w["width"] = 0
        w["plateau"] = 0
        w["amp"] = 0
        w["vz"] = cp["vz"]


class M_p(WaveIntent):
    def will(self, w, cp):
        w.update(cp["M01"])


PY_RECIPES.update(F_p=F_p, Vz_p=Vz_p, M_p=M_p)


def move_track(track, w):
    for p in track:
        p["pos"] += w


class RULE:
    __maj_type__ = "RULE"

    def __init__(self, **line_tracks):
        self.kwds = {}
        self.line_tracks = {}
        for k, v in line_tracks.items():
            if k[0] == "_":
                self.kwds[k] = v
            else:
                self.line_tracks[k] = v
        self._align = "left"
        if "_align" in self.kwds:
            al = self.kwds["_align"]
            assert al in ("left", "right", "center"), " Invalid alignment option " + f"{al}"
            self._align = al

    def semi_apply(self, its_qubit_info, **targeted_kwds):
        line_tracks, line_tracks_duration, max_duration = {}, {}, 0
        for line, tracks in self.line_tracks.items():
            line_name = its_qubit_info[line]["nm"]
            pdt = its_qubit_info[line]["pdt"]
            cp = its_qubit_info[line]["cp"]
            line_kwds = catch(targeted_kwds, line)
            ret_tracks, tracks_duration = [], []
            for i, track in enumerate(tracks):
                track_kwds = catch(line_kwds, str(i))
                ret_track, track_duration = [], 0
                for j, r in enumerate(track):
                    pulse_kwds = catch(track_kwds, str(j))
                    pd = r.get_pd(pdt, cp, **pulse_kwds)
                    duration = pulse_duration(pd)
                    pd["pos"] = track_duration
                    ret_track.append(pd)
                    track_duration += duration
                ret_tracks.append(ret_track)
                max_duration = max(max_duration, track_duration)
                tracks_duration.append(track_duration)
            line_tracks[line_name] = ret_tracks
            line_tracks_duration[line_name] = tracks_duration
        if len(line_tracks) > 0 and self._align in ("right", "center"):
            for line_name, tracks in line_tracks.items():
                for ti, track in enumerate(tracks):
                    tdur = line_tracks_duration[line_name][ti]
                    shift = max_duration - tdur
                    move_track(track, shift if self._align == "right" else shift / 2)
        return max_duration, line_tracks


class RULE_COMP:
    __maj_type__ = "RULE_COMP"

    def __init__(self, complex_list=[]):
        self.complex_list = complex_list
        self.complex_dict = {}
        self.default_rule = None
        for q_desc, rule in complex_list:
            for q in q_desc:
                self.complex_dict[to_xqubits((q,) if isinstance(q, int) else q)] = rule


def get_rule(A, qubits):
    if isit(A, "RULE_COMP"):
        return A.complex_dict.get(qubits, A.default_rule)
    if isit(A, "RULE"):
        return A
    raise Exception("get-rule The instance " + f"{A}" + " is not known!")


class INSTRUCTION:
    def __init__(self, name, *qubits, **targeted_kwds):
        self.nm, self.dur, self.qubits, self.kwds, self.lts = name, 0, qubits, targeted_kwds, None


class Circuit:
    def __init__(self, ins):
        self.ins = ins


def semi_apply(circ, rules, qubits_info):
    block_all_gates, measurement_gates, all_qubits = [], [], set()
    for ins in circ.ins:
        r_ = rules[ins.nm]
        for q in ins.qubits:
            all_qubits.add(q)
        xqb = to_xqubits(ins.qubits)
        r = get_rule(r_, xqb)
        assert r is not None, "The rule is None"
        if ins.nm == "B":
            if xqb == "":
                block_all_gates.append(ins)
            its_qubits_info = {}
        elif ins.nm == "PIN":
            circ.pin_pos, circ.pin_gate = ins.kwds["tm"], ins
            if xqb == "":
                block_all_gates.append(ins)
            its_qubits_info = {}
        else:
            its_qubits_info = qubits_info[xqb]
        if ins.nm == "M":
            measurement_gates.append(ins)
        max_dur, line_tracks = r.semi_apply(its_qubits_info, **ins.kwds)
        ins.dur, ins.lts = max_dur, line_tracks
    circ.MGates, circ.all_qubits = measurement_gates, all_qubits
    for ins in block_all_gates:
        ins.qubits = tuple(circ.all_qubits)
    return circ


def _ASAP(circ):
    qubit_times_l, mx_pos = {}, 0
    for ins in circ.ins:
        ins.pos = np.max([qubit_times_l.get(q, 0) for q in ins.qubits])
        nxt_pos = ins.dur + ins.pos
        if nxt_pos > mx_pos:
            mx_pos = nxt_pos
        for q in ins.qubits:
            qubit_times_l[q] = nxt_pos
    return mx_pos


def _ALAP(circ):
    qubit_times_r, mn_pos = {}, 0
    for ins in circ.ins[::-1]:
        ins.pos = np.min([qubit_times_r.get(q, 0) for q in ins.qubits]) - ins.dur
        nxt_pos = ins.pos
        if nxt_pos < mn_pos:
            mn_pos = nxt_pos
        for q in ins.qubits:
            qubit_times_r[q] = nxt_pos
    return mn_pos


def shift_circ(circ, t):
    for ins in circ.ins:
        ins.pos += t


def flush_gate_pos_to_pds(circ):
    for ins in circ.ins:
        for tracks in ins.lts.values():
            for track in tracks:
                move_track(track, ins.pos)


def ASAP(circ, st_pos=None, ed_pos=None):
    mx_pos = _ASAP(circ)
    if st_pos != None:  # noqa: E711 (the interface compares with !=)
        shift_circ(circ, st_pos)
    elif ed_pos != None:  # noqa: E711
        shift_circ(circ, ed_pos - mx_pos)
    elif hasattr(circ, "pin_pos"):
        shift_circ(circ, circ.pin_pos - circ.pin_gate.pos)
    flush_gate_pos_to_pds(circ)
    return circ


def ALAP(circ, st_pos=None, ed_pos=None):
    mn_pos = _ALAP(circ)
    if st_pos != None:  # noqa: E711
        shift_circ(circ, st_pos - mn_pos)
    elif ed_pos != None:  # noqa: E711
        shift_circ(circ, ed_pos)
    flush_gate_pos_to_pds(circ)
    return circ


def collect_pdc(circ):
    R = {}
    for ins in circ.ins:
        for line, tracks in ins.lts.items():
            if line not in R:
                R[line] = []
            for track in tracks:
                R[line] += track
    return R


BASELINE = dict(recipes=PY_RECIPES, RULE=RULE, RULE_COMP=RULE_COMP, INSTRUCTION=INSTRUCTION, Circuit=Circuit,
                semi_apply=semi_apply, ASAP=ASAP, ALAP=ALAP, collect_pdc=collect_pdc)
HALVANE = dict(recipes={n: getattr(hw, n) for n in PY_RECIPES}, RULE=hr.RULE, RULE_COMP=hr.RULE_COMP,
               INSTRUCTION=hc.INSTRUCTION, Circuit=hc.Circuit, semi_apply=hc.semi_apply, ASAP=hc.ASAP,
               ALAP=hc.ALAP, collect_pdc=hc.collect_pdc)


# ---- the workload ---------------------------------------------------------

N_QUBITS = 20
ROTATIONS = {"X": "X_p", "Y": "Y_p", "X2": "X2_p", "Y2": "Y2_p", "mX2": "mX2_p", "mY2": "mY2_p"}


def calibration(q, number=float):
    """Qubit q's calibration, its numbers made by `number` (float, or a numpy scalar type)."""
    pi = {"amp": 0.5 + 0.01 * q, "width": 40e-9, "plateau": 0.0, "drag_scale": 0.3e-9, "phase_offs": 0.01 * q}
    cp = {
        "pi": pi, "pi2": dict(pi, amp=pi["amp"] / 2), "vz": 0.1 * q,
        "fp": {"amp": 0.3, "width": 10e-9, "plateau": 30e-9 + 1e-9 * q},
        "M01": {"amp": 0.05, "width": 20e-9, "plateau": 2e-6, "freq": 7.0e9 + 1e7 * q},
    }
    return {k: {n: number(x) for n, x in v.items()} if isinstance(v, dict) else number(v) for k, v in cp.items()}


def template(freq):
    return {"shape": "cos", "pos": 0.0, "width": 0.0, "plateau": 0.0, "amp": 0.0, "freq": freq,
            "phase": 0.0, "phase1": 0.0, "vz": 0.0}


def setup(api, number=float):
    """Rules and qubit information for the workload, made with `api`'s classes."""
    R, RC = api["RULE"], api["RULE_COMP"]
    rec = api["recipes"]
    rules = {g: RC([[[q], R(d=[[rec[name]()]])] for q in range(N_QUBITS)]) for g, name in ROTATIONS.items()}
    rules["CZ"] = RC([[[(q, q + 1)], R(z=[[rec["F_p"]()]], d0=[[rec["Vz_p"]()]], d1=[[rec["Vz_p"]()]],
                                       _align="center")] for q in range(N_QUBITS - 1)])
    rules["M"] = RC([[[q], R(m=[[rec["M_p"]()]])] for q in range(N_QUBITS)])
    info = {}
    for q in range(N_QUBITS):
        cp = calibration(q, number)
        xy = {"nm": f"q{q}_xy", "pdt": template(5.0e9 + 1e8 * q), "cp": cp}
        info[str(q)] = {"d": xy, "m": {"nm": f"q{q}_m", "pdt": template(0.0), "cp": cp}}
    for q in range(N_QUBITS - 1):
        info[f"{q}x{q + 1}"] = {
            "z": {"nm": f"q{q}_z", "pdt": template(0.0), "cp": calibration(q, number)},
            "d0": info[str(q)]["d"], "d1": info[str(q + 1)]["d"],
        }
    return rules, info


def layers(rnd):
    """One layer: every qubit gets a random rotation or a CZ with its neighbour;
    some carry targeted keywords. (name, qubits, keywords) per instruction."""
    q = 0
    while q < N_QUBITS:
        if q + 1 < N_QUBITS and rnd.random() < 0.25:
            yield "CZ", (q, q + 1), ({"z__amp": 0.3} if rnd.random() < 0.3 else {})
            q += 2
        else:
            yield rnd.choice(list(ROTATIONS)), (q,), ({"d__0__0__amp": 0.4} if rnd.random() < 0.2 else {})
            q += 1


def program(n_layers=None, n_instructions=None, seed=1):
    """n_layers layers, or as many as make n_instructions in all; then a
    measurement of every qubit."""
    rnd = random.Random(seed)
    prog = []
    if n_layers is not None:
        for _ in range(n_layers):
            prog += layers(rnd)
    else:
        while len(prog) < n_instructions - N_QUBITS:
            prog += layers(rnd)
        prog = prog[: n_instructions - N_QUBITS]
    return prog + [("M", (q,), {}) for q in range(N_QUBITS)]


def build(api, prog):
    ins = api["INSTRUCTION"]
    return api["Circuit"]([ins(name, *qubits, **dict(kw)) for name, qubits, kw in prog])


def compile_circuit(api, circ, rules, info, schedule):
    api["semi_apply"](circ, rules, info)
    api[schedule](circ)
    return api["collect_pdc"](circ)


# ---- measurement ----------------------------------------------------------

def compare(prog, schedule, repeat, collector=True, number=float):
    """Median seconds of compile_circuit on a freshly built circuit, per
    implementation; with collector=False the cyclic garbage collector is
    paused while the compile runs."""
    apis = {"halvane": HALVANE, "baseline": BASELINE}
    inputs = {name: setup(api, number) for name, api in apis.items()}
    results = {name: compile_circuit(api, build(api, prog), *inputs[name], schedule) for name, api in apis.items()}
    assert results["halvane"] == results["baseline"], "halvane and the baseline disagree"
    del results  # kept alive, they would only lengthen every full collection of either side
    times = {name: [] for name in apis}
    for _ in range(repeat):
        for name, api in apis.items():
            circ = build(api, prog)
            if not collector:
                gc.disable()
            t0 = time.perf_counter()
            compile_circuit(api, circ, *inputs[name], schedule)
            times[name].append(time.perf_counter() - t0)
            gc.enable()
            del circ
    return {k: statistics.median(v) for k, v in times.items()}


# ---- frames: circuit.fold_vz against a plain-Python fold -------------------

def py_fold_vz(lines, follow=None, sign=None):
    """The fold as a user would write it: the increments in time order, each
    frame's running phase, and for each pulse the phase of the increments in
    effect by its start (bisect), never its own."""
    follow, sign = follow or {}, sign or {}

    def frame_of(line):
        while line in follow:
            line = follow[line]
        return line

    increments = []
    for line, pds in lines.items():
        for k, pd in enumerate(pds):
            vz = pd.get("vz", 0)
            if vz != 0:
                increments.append((pd["pos"] + (pd["width"] + pd["plateau"]), line, k, vz))
    increments.sort(key=lambda row: row[0])
    times, after, own, phase, events = {}, {}, {}, {}, []
    for t, line, k, vz in increments:
        f = frame_of(line)
        phase[f] = math.remainder(phase.get(f, 0.0) + vz, 2 * math.pi)
        own[line, k] = len(after.setdefault(f, []))
        after[f].append(phase[f])
        times.setdefault(f, []).append(t)
        events.append((t, line, vz, phase[f]))
    folded = {}
    for line, pds in lines.items():
        f, s = frame_of(line), sign.get(line, 1)
        out = folded[line] = []
        for k, pd in enumerate(pds):
            pd = dict(pd)
            out.append(pd)
            if "edge_shape" in pd or pd.get("freq", 0) == 0 or f not in times:
                continue
            seen = bisect.bisect_right(times[f], pd["pos"] + 1e-12)
            seen = min(seen, own.get((line, k), seen))
            if seen:
                pd["phase1"] = pd["phase1"] + s * after[f][seen - 1]
                pd["frame_phase"] = s * after[f][seen - 1]
    return folded, events


def fold_cost(prog, repeat):
    """Median seconds of fold_vz and of the plain-Python fold, each on the
    lines that a halvane compile (semi_apply, ASAP, collect_pdc) of `prog`
    has just collected, as a user folds them; and of that compile."""
    rules, info = setup(HALVANE)
    lines = compile_circuit(HALVANE, build(HALVANE, prog), rules, info, "ASAP")
    assert hc.fold_vz(lines) == py_fold_vz(lines), "fold_vz and the plain-Python fold disagree"
    n = sum(map(len, lines.values()))

    def copies(lines):
        return {line: [dict(pd) for pd in pds] for line, pds in lines.items()}

    times = {"fold_vz": [], "python fold": [], "copies": [], "compile": []}
    for _ in range(repeat):
        for name, fold in (("fold_vz", hc.fold_vz), ("python fold", py_fold_vz), ("copies", copies)):
            circ = build(HALVANE, prog)
            t0 = time.perf_counter()
            lines = compile_circuit(HALVANE, circ, rules, info, "ASAP")
            t1 = time.perf_counter()
            folded = fold(lines)
            times[name].append(time.perf_counter() - t1)
            times["compile"].append(t1 - t0)
            del folded, lines, circ  # freeing the result is not the fold's work
    return {k: statistics.median(v) for k, v in times.items()}, n


def report_fold(prog, repeat):
    m, n = fold_cost(prog, repeat)
    print(f"virtual Z folded into the collected lines ({n} descriptions), median of {repeat}:")
    print(f"  fold_vz {m['fold_vz'] * 1e3:6.2f} ms  plain-Python fold {m['python fold'] * 1e3:6.2f} ms"
          f"  ratio {m['python fold'] / m['fold_vz']:4.1f}x")
    print(f"  against the compile that collected them ({m['compile'] * 1e3:6.1f} ms): "
          f"{m['fold_vz'] / m['compile']:.2f} of its time")
    print(f"  the new dicts alone, [dict(pd) for pd in pds] per line: {m['copies'] * 1e3:6.2f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    prog = program(n_layers=500)
    print(f"{N_QUBITS} qubits x 500 layers ({len(prog)} instructions): semi_apply, schedule, collect_pdc; "
          f"median of {args.repeat}")
    rows = (("ASAP", True, float, ""), ("ALAP", True, float, ""), ("ASAP", False, float, ", collector paused"),
            ("ASAP", True, np.float64, ", numpy scalars"))
    for schedule, collector, number, note in rows:
        m = compare(prog, schedule, args.repeat, collector, number)
        label = schedule + note
        print(f"  {label:24s} halvane {m['halvane'] * 1e3:7.1f} ms  baseline {m['baseline'] * 1e3:7.1f} ms"
              f"  ratio {m['baseline'] / m['halvane']:4.1f}x")
    print("cost per instruction (ASAP):")
    for collector in (True, False):
        for n in (10**3, 10**4, 10**5):
            m = compare(program(n_instructions=n), "ASAP", args.repeat if n < 10**5 else max(1, args.repeat // 3),
                        collector)
            label = f"{n} instructions" + ("" if collector else ", collector paused")
            print(f"  {label:36s} halvane {m['halvane'] / n * 1e6:6.2f} us  baseline {m['baseline'] / n * 1e6:6.2f} us"
                  f"  ratio {m['baseline'] / m['halvane']:4.1f}x")
    report_fold(program(n_layers=500), args.repeat)


if __name__ == "__main__":
    main()
