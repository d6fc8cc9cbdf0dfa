"""Find the mistakes that halvane accepts silently: typos, wrong units, gaps.

Pulse descriptions, sampling records, calibration dicts and qubit
information are plain dicts, so a misspelt key is simply never read and a
time in nanoseconds written as ``40`` is taken as 40 seconds. The two
checkers here read what you would hand to the package and list what looks
wrong, with a suggestion where one is near::

    >>> from halvane import check
    >>> check.check_pulses([{'shape': 'cos', 'pos': 0, 'width': 40e-9, 'plateau': 0,
    ...                      'amp': 0.5, 'freq': 100e6, 'phase': 0, 'phase1': 0,
    ...                      'drag_scal': 0.3e-9}])
    [Finding(where="entry #0 key 'drag_scal'", message="no part of halvane reads this key; did you mean 'drag_scale'?")]

They never modify what they are given and never raise: a value that cannot
be read is reported as a finding itself.
"""

from __future__ import annotations

import difflib
import math
import numbers
from collections.abc import Iterable, Mapping
from dataclasses import dataclass

from halvane.records import SHAPE_KEYS, PulseDescription, SamplingRecord

__all__ = ["Finding", "check_pulses", "check_circuit", "unknown_shape_note", "PULSE_KEYS", "RECORD_KEYS",
           "CALIBRATION_KEYS"]

#: Every pulse-description key that some part of the package reads or carries.
PULSE_KEYS = frozenset(PulseDescription.__annotations__)
#: The keys of the sampling record.
RECORD_KEYS = frozenset(SamplingRecord.__annotations__)
_RECORD_REQUIRED = ("N", "srate", "offset_global")
_DRAG_UNIT = "DRAG coefficients are in seconds (0.3 ns is 0.3e-9)"
_RULE_OPTIONS = ("_align",)  # the options a RULE reads
_MAX_SAMPLES = 10**9  # 16 GB of complex128 per array: more is a unit slip, not a line
# What sampling subscripts: from every entry, then from a pulse (not a level
# step) and from the pulses of the shapes that need it (records.SHAPE_KEYS).
_ENTRY_REQUIRED = ("pos", "width", "plateau", "amp")
_PULSE_REQUIRED = ("shape", "freq", "phase", "phase1")
# The table's edges, called as f(X, x0, w); every other entry is an envelope f(X, pd, cp).
_EDGES = frozenset({"sine_edge"})
_QUBIT_LINE_KEYS = ("nm", "pdt", "cp")

# The calibration entries each recipe of the catalogue reads, and what each
# holds: a gate entry (pulse keys plus `phase_offs`), a dict of pulse keys,
# or a single value.
_GATE = "gate"
_DICT = "dict"
_VALUE = "value"
CALIBRATION_KEYS: dict[str, tuple[tuple[str, str], ...]] = {
    **{c: (("pi", _GATE),) for c in ("X_p", "Y_p", "mX_p", "mY_p", "W_p", "mW_p")},
    **{c: (("pi2", _GATE),) for c in ("X2_p", "Y2_p", "mX2_p", "mY2_p", "W2_p", "mW2_p")},
    "X12_p": (("pi12", _GATE),),
    "X23_p": (("pi23", _GATE),),
    "X232_p": (("pi23", _GATE),),
    "F_p": (("fp", _DICT),),
    "M_p": (("M01", _DICT),),
    "Xf0g1_p": (("f0g1", _DICT),),
    "Vz_p": (("vz", _VALUE),),
    "VZ_left_p": (("vz_left", _VALUE),),
    "VZ_right_p": (("vz_right", _VALUE),),
    "Coup_off_p": (("offamp", _VALUE), ("offplateau", _VALUE)),
    "I_p": (),
}


@dataclass(frozen=True)
class Finding:
    """One thing that looks wrong: ``where`` it is and what the ``message`` says."""

    where: str
    message: str

    def __str__(self) -> str:
        return f"{self.where}: {self.message}"


def _near(name: object, known: Iterable[object]) -> str:
    """'; did you mean 'x'?' for the closest known name, or ''."""
    if not isinstance(name, str):
        return ""
    match = difflib.get_close_matches(name, [k for k in known if isinstance(k, str)], n=1, cutoff=0.6)
    return f"; did you mean {match[0]!r}?" if match else ""


def _text(o: object) -> str:
    """repr() that cannot fail."""
    try:
        return repr(o)
    except Exception:
        return f"<{type(o).__name__}>"


def _number(v: object) -> complex | None:
    """The value as a complex number, or None when it is not a number."""
    if isinstance(v, (str, bytes)):
        return None
    try:
        return complex(v)  # type: ignore[call-overload]
    except Exception:
        return None


def _is_nan(z: complex) -> bool:
    return math.isnan(z.real) or math.isnan(z.imag)


def _shape_table() -> Mapping[object, object]:
    """shapeTable when it is a mapping (sampling then reports anything else), else {}."""
    try:
        from halvane import wavespec_handling

        table = wavespec_handling.shapeTable
    except Exception:
        return {}
    return table if isinstance(table, Mapping) else {}


def unknown_shape_note(name: object, table: Mapping[object, object]) -> str:
    """
    The note for a shape name missing from ``table``: the names it has and the closest.

    A function's own name leads to its key, so ``'cosine'`` suggests ``'cos'``.
    """
    try:
        keys = [k for k in table if isinstance(k, str)] if isinstance(table, Mapping) else []
    except Exception:
        keys = []
    # Each key answers to itself and to the name of the function it holds.
    answers = {k: k for k in keys}
    for k in keys:
        try:
            fn_name = getattr(table[k], "__name__", k)
        except Exception:
            continue
        if isinstance(fn_name, str):
            answers.setdefault(fn_name, k)
    match = difflib.get_close_matches(name, list(answers), n=1, cutoff=0.6) if isinstance(name, str) else []
    hint = f"; did you mean {answers[match[0]]!r}?" if match else ""
    return f"{name!r} is not a name in shapeTable ({', '.join(map(repr, keys))}){hint}"


class _Report:
    """The findings of one check, each reported once."""

    def __init__(self) -> None:
        self.findings: list[Finding] = []
        self._seen: set[object] = set()

    def add(self, where: str, message: str) -> None:
        f = Finding(where, message)
        if self.first_time(f):
            self.findings.append(f)

    def first_time(self, token: object) -> bool:
        """True the first time a token (a finding, a dict's id) is met, so each is handled once."""
        if token in self._seen:
            return False
        self._seen.add(token)
        return True

    def _items(self, d: object, where: str) -> list[tuple[object, object]] | None:
        """The items of the mapping `d`; None, with a finding, when it is not one or cannot be read."""
        if not isinstance(d, Mapping):
            self.add(where, f"is not a dict but {type(d).__name__}")
            return None
        try:
            return list(d.items())
        except Exception as e:
            self.add(where, f"cannot be read ({type(e).__name__}: {e})")
            return None

    def pulse(self, pd: object, where: str, known: frozenset[str] = PULSE_KEYS) -> None:
        """Check one pulse description (or template, or calibration entry)."""
        items = self._items(pd, where)
        if items is None:
            return
        for key, value in items:
            at = f"{where} key {_text(key)}"
            if key not in known:
                self.add(at, "no part of halvane reads this key" + _near(key, known))
                continue
            if key in ("shape", "edge_shape"):
                if isinstance(value, str):
                    table = _shape_table()
                    if table and value not in table:
                        self.add(at, unknown_shape_note(value, table))
                    elif key == "shape" and value in _EDGES:
                        self.add(at, f"{value!r} is the edge of a level step; a pulse needs an envelope "
                                     "such as 'cos' (or write the entry as a level step with 'edge_shape')")
                    elif key == "edge_shape" and table and value not in _EDGES:
                        self.add(at, f"{value!r} is an envelope shape; a level step needs an edge: "
                                     f"{', '.join(map(repr, sorted(_EDGES)))}")
                elif key == "edge_shape" or not callable(value):
                    self.add(at, f"{_text(value)} is neither a shape name nor callable")
                continue
            if key == "sweep":  # a tag of any value
                continue
            self.value(key, value, at)
        self.sigma(dict(items), where)

    def sigma(self, pd: dict[object, object], where: str) -> None:
        """Check ``sigma`` against 0 and against the entry's ``width``."""
        sigma, width = _number(pd.get("sigma")), _number(pd.get("width"))
        if sigma is None or _is_nan(sigma):
            return  # absent, or reported by value()
        at = f"{where} key 'sigma'"
        if sigma.real <= 0:
            self.add(at, f"{_text(pd['sigma'])} s is not positive: the Gaussian edges need a standard deviation")
        elif width is not None and sigma.real > width.real:
            self.add(at, f"{_text(pd['sigma'])} s is greater than the width {_text(pd['width'])} s: "
                         "the edges would be nearly straight (the default is width/4)")

    def value(self, key: str, value: object, at: str) -> None:
        """Check one value of a pulse description by its key."""
        if key == "drag_list":
            try:
                values = list(value)  # type: ignore[call-overload]
            except Exception:
                self.add(at, f"{_text(value)} is not a list of numbers")
                return
            for v in values:
                z = _number(v)
                if z is None or _is_nan(z):
                    self.add(at, f"holds {_text(v)}, not a number")
                elif abs(z) > 1e-6:
                    self.add(at, f"holds {_text(v)} s, over 1 µs: {_DRAG_UNIT}")
            return
        z = _number(value)
        if z is None:
            self.add(at, f"{_text(value)} is not a number")
        elif _is_nan(z):
            self.add(at, "is NaN")
        elif key in ("width", "plateau") and z.real < 0:
            self.add(at, f"{_text(value)} s is negative")
        elif key in ("width", "plateau") and abs(z) > 1e-3:
            self.add(at, f"{_text(value)} s is over 1 ms: times are in seconds (40 ns is 40e-9)")
        elif key == "pos" and abs(z) > 1:
            self.add(at, f"{_text(value)} s is over 1 s: times are in seconds (100 ns is 100e-9)")
        elif key in ("phase", "phase1", "frame_phase") and abs(z) > 2 * math.pi:
            self.add(at, f"{_text(value)} rad is over 2π: phases are in radians (90° is π/2)")
        elif key == "drag_scale" and abs(z) > 1e-6:
            self.add(at, f"{_text(value)} s is over 1 µs: {_DRAG_UNIT}")
        elif key in ("freq", "drag_detuning") and 0 < abs(z) < 1e3:
            self.add(at, f"{_text(value)} Hz is under 1 kHz: frequencies are in hertz (100 MHz is 100e6)")
        elif key == "amp" and abs(z) > 1:
            self.add(at, f"|amp| = {abs(z):g} is above 1")

    def required(self, pd: object, where: str) -> None:
        """Report the keys sampling needs from ``pd`` that it lacks, with a near key it has."""
        if not isinstance(pd, Mapping):
            return
        try:
            keys = [k for k, _ in pd.items()]
            shape = pd.get("shape")
            needed = list(_ENTRY_REQUIRED)
            if "edge_shape" not in keys:
                needed += _PULSE_REQUIRED
                needed += SHAPE_KEYS.get(shape, ()) if isinstance(shape, str) else ()
        except Exception:
            return  # an unreadable entry is reported by pulse()
        for key in needed:
            if key not in keys:
                self.add(f"{where} key {key!r}", "is missing, and sampling reads it" +
                         _near(key, [k for k in keys if k not in PULSE_KEYS]))

    def record(self, li: object) -> None:
        """Check a sampling record."""
        where = "sampling record"
        pairs = self._items(li, where)
        if pairs is None:
            return
        items = dict(pairs)
        for required in _RECORD_REQUIRED:
            if required not in items:
                self.add(f"{where} key {required!r}",
                         "is missing" + _near(required, [k for k in items if k not in RECORD_KEYS]))
        for key, value in items.items():
            at = f"{where} key {_text(key)}"
            if key not in RECORD_KEYS:
                self.add(at, "no part of halvane reads this key" + _near(key, RECORD_KEYS))
            elif key == "extra":
                if not isinstance(value, dict):
                    self.add(at, f"is {type(value).__name__}, not a dict: no filtering is done")
                    continue
                for name, stage in value.items():
                    try:
                        coefs = [_number(v) for v in stage]
                    except Exception:
                        coefs = []
                    if len(coefs) != 4 or None in coefs:
                        self.add(f"{at} stage {_text(name)}", f"{_text(stage)} is not four numbers [A, B, tau, Ts]")
            elif key == "N":
                if isinstance(value, bool) or not isinstance(value, numbers.Integral):
                    self.add(at, f"{_text(value)} is not an int: sampling needs a whole number of samples")
                elif int(value) < 0:
                    self.add(at, f"{_text(value)} is negative")
                elif int(value) > _MAX_SAMPLES:
                    self.add(at, f"{_text(value)} samples need {int(value) * 16 / 1e9:.3g} GB per complex array: "
                                 "is the window in seconds?")
            else:
                z = _number(value)
                if z is None:
                    self.add(at, f"{_text(value)} is not a number")
                elif _is_nan(z):
                    self.add(at, "is NaN")
                elif key == "srate" and abs(z) < 1e6:
                    self.add(at, f"{_text(value)} samples/s is under 1 MHz: rates are per second (2 GS/s is 2e9)")


def _collections(pds: object) -> list[tuple[str, object]]:
    """(prefix, collection) pairs: one list, or a dict of line name -> list."""
    if isinstance(pds, Mapping):
        try:
            values = list(pds.items())
        except Exception:
            return [("", pds)]
        if values and all(not isinstance(v, Mapping) and isinstance(v, Iterable) for _, v in values):
            return [(f"line {_text(k)} ", v) for k, v in values]
    return [("", pds)]


def check_pulses(pds: object, li: object = None, *, full_scale: float | None = None) -> list[Finding]:
    """
    List what looks wrong in pulse descriptions and a sampling record.

    Parameters
    ----------
    pds : iterable of dict, or dict of line name -> iterable of dict
        A line's pulse descriptions, or the lines that ``collect_pdc`` returns.
    li : dict, optional
        The sampling record.
    full_scale : float, optional
        With ``li``, also sample the lines and name the entries that drive
        a line beyond this magnitude, in its samples or between them
        (``export.clip_report``): the pulses to turn down.

    Returns
    -------
    list of Finding
        Keys that no part of the package reads (with the closest known key),
        keys that sampling needs and an entry lacks, shape names missing from
        ``shapeTable`` or naming an edge for a pulse (an envelope for a level
        step), an ``N`` that is not an int or is over 10**9, values that are
        not numbers or are NaN, negative ``width`` or ``plateau``, a
        ``sigma`` that is not positive or is greater than ``width``, and
        magnitudes that suggest wrong units: ``width`` or ``plateau`` over
        1 ms, \\|``pos``\\| over 1 s, DRAG coefficients over 1 µs,
        0 < \\|``freq``\\| or \\|``drag_detuning``\\| < 1 kHz, \\|``phase``\\|,
        \\|``phase1``\\| or \\|``frame_phase``\\| over 2π, \\|``amp``\\| above 1, ``srate`` under
        1 MHz. An iterator is reported, not read. Empty when nothing looks
        wrong.

    Examples
    --------
    >>> check_pulses([{'shape': 'cosine', 'pos': 0, 'width': 40, 'plateau': 0,
    ...                'amp': 0.5, 'freq': 1e8, 'phase': 0, 'phase1': 0}])[0].where
    "entry #0 key 'shape'"
    """
    report = _Report()
    if isinstance(pds, Mapping) and _collections(pds) == [("", pds)]:
        report.add("pulse descriptions", "is one dict, not a list of them: pass [pd]")
        pds = [pds]
    for prefix, collection in _collections(pds):
        try:
            if iter(collection) is collection:  # type: ignore[call-overload]
                # Reading an iterator uses it up: leave it for the sampling it is meant for.
                report.add(prefix.strip() or "pulse descriptions",
                           f"is a {type(collection).__name__}, which can be read once: pass a list to check it "
                           "(and to sample it more than once)")
                continue
            entries = list(collection)  # type: ignore[call-overload]
        except Exception as e:
            report.add(prefix.strip() or "pulse descriptions", f"cannot be iterated ({type(e).__name__}: {e})")
            continue
        for k, pd in enumerate(entries):
            try:
                report.pulse(pd, f"{prefix}entry #{k}")
                report.required(pd, f"{prefix}entry #{k}")
            except Exception as e:  # an odd object somewhere: say so and go on
                report.add(f"{prefix}entry #{k}", f"could not be checked ({type(e).__name__}: {e})")
    if li is not None:
        report.record(li)
        if full_scale is not None and not report.findings:
            _clipping(report, pds, li, full_scale)
    return report.findings


def _clipping(report: _Report, pds: object, li: object, full_scale: float) -> None:
    """Findings for the entries that drive their line beyond ``full_scale``."""
    from halvane import export

    lines = pds if isinstance(pds, Mapping) else {None: pds}
    try:
        found = export.clip_report(lines, li, full_scale=full_scale, true_peak=True)  # type: ignore[arg-type]
    except Exception as e:
        report.add("sampling", f"could not sample the lines to check full scale ({type(e).__name__}: {e})")
        return
    for name, clip in found.items():
        prefix = "" if name is None else f"line {_text(name)} "
        said = []
        if clip.excess > 0:
            said.append(f"drives the line up to {clip.excess:.4g} of full scale over it ({clip.clipped} values "
                        f"beyond it, a true peak of {clip.peak:.4g}): turn it down")
        if clip.nonfinite:
            said.append(f"leaves {clip.nonfinite} NaN or infinite values in the line")
        for entry in clip.entries:
            where = f"{prefix}entry #{entry.index}" if entry.index is not None else f"{prefix}resting level"
            report.add(where, "; ".join(said))


def _rule_for(rules: Mapping, nm: object, xqb: str) -> tuple[object, str | None]:
    """The rule that rule application would select, or None and why."""
    from halvane import rule

    try:
        return rule.get_rule(rules[nm], xqb), None
    except Exception as e:
        return None, f"{type(e).__name__}: {e}"


def _recipe_name(recipe: object) -> str | None:
    """The catalogue recipe whose ``will`` this recipe runs, or None."""
    for cls in type(recipe).__mro__:
        if "will" in vars(cls):
            name = cls.__name__
            return name if name in CALIBRATION_KEYS and cls.__module__.startswith("halvane") else None
    return None


class _CircuitCheck(_Report):
    """The checks of a circuit against its rules and qubit information."""

    def calibration(self, recipe: object, cp: object, pdt: object, where: str) -> None:
        """The calibration entries the recipe reads, present and well formed."""
        name = _recipe_name(recipe)
        if name is None:
            return
        if not isinstance(cp, Mapping):
            self.add(where, f"calibration is {type(cp).__name__}, not a dict")
            return
        for key, kind in CALIBRATION_KEYS[name]:
            at = f"{where} calibration {key!r}"
            if key not in cp:
                self.add(at, f"is missing, and {name} reads it" + _near(key, list(cp)))
                continue
            entry = cp[key]
            if kind == _VALUE:
                if self.first_time((id(cp), key)):
                    self.value("vz" if key.startswith("vz") else "amp" if key == "offamp" else "plateau",
                               entry, at)
                continue
            if kind == _GATE and isinstance(entry, Mapping) and "phase_offs" not in entry:
                self.add(at, "has no 'phase_offs'" + _near("phase_offs", list(entry)))
            if kind == _GATE and isinstance(entry, Mapping) and "vz" not in entry \
                    and isinstance(pdt, Mapping) and "vz" not in pdt:
                self.add(at, "has no 'vz' and neither has the line's template")
            if self.first_time(id(entry)):
                self.pulse(entry, at)

    def keyword(self, key: object, value: object, r: object, where: str) -> None:
        """One targeted keyword: its routing parts name parts of the rule, its last part a key, its value fits it."""
        at = f"{where} keyword {_text(key)}"
        if not isinstance(key, str):
            self.add(at, "is not a str")
            return
        parts = key.split("__")
        # Routing walks marker, track index, pulse index: `choices` maps each
        # name the next part may take to the nodes it selects.
        try:
            choices: dict[str, list[object]] = {str(m): [t] for m, t in dict(getattr(r, "line_tracks", {})).items()}
        except Exception:
            choices = {}
        depth = 0
        while len(parts) > 1 and depth < 3:
            part = parts[0]
            if part == "X":
                chosen = [node for nodes in choices.values() for node in nodes]
            elif part in choices:
                chosen = choices[part]
            else:
                what = ("marker", "track", "pulse")[depth]
                self.add(at, f"{part!r} names no {what} of the rule of this gate "
                             f"({', '.join(map(repr, choices)) or 'none'}){_near(part, choices)}")
                return
            choices = {}
            for node in chosen:
                for i, child in enumerate(_items(node)):
                    choices.setdefault(str(i), []).append(child)
            parts, depth = parts[1:], depth + 1
        rest = "__".join(parts)
        if rest not in PULSE_KEYS:
            self.add(at, f"routes to the key {rest!r}, which no part of halvane reads" + _near(rest, PULSE_KEYS))
        elif rest not in ("shape", "edge_shape"):
            self.value(rest, value, at)


def _items(o: object) -> list[object]:
    try:
        return list(o)  # type: ignore[call-overload]
    except Exception:
        return []


def check_circuit(circ: object, rules: object, qubits_info: object) -> list[Finding]:
    """
    List what looks wrong in a circuit, its rules and its qubit information.

    Parameters
    ----------
    circ : Circuit or iterable of INSTRUCTION
    rules : dict
        Gate name -> RULE or RULE_COMP.
    qubits_info : dict
        Qubit key -> marker -> ``{'nm': ..., 'pdt': ..., 'cp': ...}``.

    Returns
    -------
    list of Finding
        Gates with no rule; qubit keys with no qubit information; markers
        of a rule that the qubit information lacks; targeted keywords whose
        first part names no marker, track or pulse of the gate's rule, or
        that route to a key nothing reads; calibration entries a recipe
        needs that are missing (with a near name when there is one);
        unknown keys and suspicious values in templates, calibration
        entries, recipe keywords and the gates' keywords; a rule whose
        marker holds a recipe or a track where a list of tracks belongs, or
        a recipe class where an instance belongs; a circuit already
        scheduled once, or one whose instructions name no qubit at all.
        Empty when nothing looks wrong.

    Examples
    --------
    >>> from halvane import circuit, rule, waveintent_enumeration as r
    >>> rules = {'X': rule.RULE(d=[[r.X_p()]])}
    >>> info = {'0': {'d': {'nm': 'q0', 'pdt': {'shape': 'cos', 'vz': 0},
    ...                     'cp': {'pi': {'ampl': 0.5, 'phase_offs': 0}}}}}
    >>> [str(f) for f in check_circuit(circuit.Circuit([circuit.INSTRUCTION('X', 0)]), rules, info)]
    ["instruction #0 X(0) marker 'd' calibration 'pi' key 'ampl': no part of halvane reads this key; did you mean 'amp'?"]
    """
    report = _CircuitCheck()
    if not isinstance(rules, Mapping):
        report.add("rules", f"is {type(rules).__name__}, not a dict")
        return report.findings
    if not isinstance(qubits_info, Mapping):
        report.add("qubits_info", f"is {type(qubits_info).__name__}, not a dict")
        return report.findings
    instructions = _items(getattr(circ, "ins", circ))
    if any(hasattr(ins, "pos") for ins in instructions):
        report.add("circuit", "has been scheduled already: apply the rules again (semi_apply) before "
                              "scheduling it again, or its pulses move a second time")
    if instructions and all(hasattr(ins, "nm") and not _items(getattr(ins, "qubits", ())) for ins in instructions):
        report.add("circuit", "no instruction names a qubit, so a barrier has none to span and scheduling fails")
    for k, ins in enumerate(instructions):
        where = f"instruction #{k} {_str(ins)}"
        try:
            _check_instruction(report, ins, rules, qubits_info, where)
        except Exception as e:  # an odd object somewhere: say so and go on
            report.add(where, f"could not be checked ({type(e).__name__}: {e})")
    return report.findings


def _check_instruction(report: _CircuitCheck, ins: object, rules: Mapping, qubits_info: Mapping, where: str) -> None:
    """One instruction: its rule, its qubit information, its keywords."""
    from halvane import brick

    if not hasattr(ins, "nm"):
        name = _constructor_gate(ins)
        if name is not None:
            report.add(where, f"is the gate constructor {name}, not an instruction: call it with its qubits, {name}(0)")
        else:
            report.add(where, f"is a {type(ins).__name__}, not an instruction")
        return
    nm = getattr(ins, "nm", None)
    if nm not in rules:
        report.add(where, f"gate {nm!r} has no rule" + _near(nm, list(rules)))
        return
    try:
        xqb = brick.to_xqubits(tuple(getattr(ins, "qubits", ())))
    except Exception as e:
        report.add(where, f"its qubits cannot form a key ({type(e).__name__}: {e})")
        return
    r, why = _rule_for(rules, nm, xqb)
    if r is None:
        report.add(where, f"the rule of {nm!r} has nothing for qubit key {xqb!r}" + (f" ({why})" if why else ""))
        return
    if nm in ("B", "PIN"):
        info: object = {}
    elif xqb not in qubits_info:
        keys = list(qubits_info)
        hint = "; the keys are strs such as '0' and '0x1'" if keys and not any(isinstance(k, str) for k in keys) \
            else _near(xqb, keys)
        report.add(where, f"qubit key {xqb!r} has no qubit information (keys: "
                          f"{', '.join(map(_text, keys)) or 'none'})" + hint)
        return
    else:
        info = qubits_info[xqb]
    kwds = getattr(ins, "kwds", None)
    for key, value in kwds.items() if isinstance(kwds, Mapping) else ():
        if not (nm == "PIN" and key == "tm"):  # the pin's time, read by rule application
            report.keyword(key, value, r, where)
    _check_lines(report, r, info, f"{where}")


def _check_lines(report: _CircuitCheck, r: object, info: object, where: str) -> None:
    """The rule's markers in the qubit information, their templates, calibration and recipes."""
    try:
        line_tracks = dict(getattr(r, "line_tracks"))
    except Exception:
        return  # not a RULE of this package: nothing known to check
    if not isinstance(info, Mapping):
        report.add(where, f"qubit information is {type(info).__name__}, not a dict")
        return
    for marker, tracks in line_tracks.items():
        at = f"{where} marker {_text(marker)}"
        if report.first_time((id(r), marker)):
            _check_tracks(report, marker, tracks, at)
        if isinstance(tracks, str):
            continue  # a mistyped option, reported above, and no marker
        if marker not in info:
            report.add(at, f"is missing from the qubit information (it has {', '.join(map(_text, info)) or 'nothing'})"
                       + _near(marker, list(info)))
            continue
        line = info[marker]
        if not isinstance(line, Mapping):
            report.add(at, f"is {type(line).__name__}, not a dict of 'nm', 'pdt' and 'cp'")
            continue
        for key in line:
            if key not in _QUBIT_LINE_KEYS:
                report.add(f"{at} key {_text(key)}", "no part of halvane reads this key" + _near(key, _QUBIT_LINE_KEYS))
        missing = [key for key in _QUBIT_LINE_KEYS if key not in line]
        for key in missing:
            report.add(at, f"has no {key!r}" + _near(key, list(line)))
        if missing:
            continue
        if report.first_time(id(line["pdt"])):
            report.pulse(line["pdt"], f"{at} template")
        for track in _items(tracks):
            for recipe in _items(track):
                kw = getattr(recipe, "kw", None)
                if isinstance(kw, Mapping) and kw and report.first_time(id(kw)):
                    report.pulse(kw, f"{at} recipe {type(recipe).__name__} keywords")
                report.calibration(recipe, line["cp"], line["pdt"], at)


def _check_tracks(report: _CircuitCheck, marker: object, tracks: object, at: str) -> None:
    """A marker's value is a list of tracks, each a list of recipe instances."""
    def written(o: object) -> str:  # a recipe as the user would write the instance
        return f"{o.__name__}()" if isinstance(o, type) else _text(o)

    if isinstance(tracks, str):
        hint = (f"; options begin with '_': write _{marker}={tracks!r}" if f"_{marker}" in _RULE_OPTIONS
                else "")
        report.add(at, f"{tracks!r} is a str, not a list of tracks, each a list of recipes" + hint)
        return
    if hasattr(tracks, "get_pd"):
        report.add(at, f"{written(tracks)} is not a list of tracks, each a list of recipes; "
                       f"write {marker}=[[{written(tracks)}]]")
        return
    for i, track in enumerate(_items(tracks)):
        if hasattr(track, "get_pd"):
            report.add(f"{at} track #{i}", f"{written(track)} is a recipe, not a track (a list of recipes); "
                                           f"write {marker}=[[{written(track)}]]")
            continue
        for j, recipe in enumerate(_items(track)):
            if isinstance(recipe, type):
                report.add(f"{at} track #{i} pulse #{j}", f"{recipe.__name__} is a class; write {recipe.__name__}()")
            elif not hasattr(recipe, "get_pd"):
                report.add(f"{at} track #{i} pulse #{j}", f"{_text(recipe)} is not a recipe (it has no get_pd)")


def _constructor_gate(obj: object) -> str | None:
    """The gate name of a constructor made by ``instructification``, else None."""
    from halvane import circuit

    gate = getattr(obj, "gate", None) if isinstance(obj, circuit._GateConstructor) else None
    return gate if isinstance(gate, str) else None


def _str(ins: object) -> str:
    """The printed instruction; a gate constructor left uncalled by its name."""
    name = _constructor_gate(ins)
    if name is not None:
        return name
    try:
        return str(ins)
    except Exception:
        return f"<{type(ins).__name__}>"
