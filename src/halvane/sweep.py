"""Sweeps that compile once: every point from the pulses it changes.

A calibration sweep changes a few pulses of a circuit from point to point.
``Sweep`` samples everything else once and builds each point from it:

- ``amp`` (real or complex), ``phase``, ``phase1`` and ``drag_scale`` enter a
  pulse's samples linearly, so each swept pulse is rendered once (with unit
  amplitude, zero phase and, when ``drag_scale`` is swept, its DRAG part on
  its own) and a point is that rendering times a number; a frame increment
  ``vz`` turns the later pulses of its frame as ``circuit.fold_vz`` does
  (``Sweep(..., frames={})``);
- ``pos``, ``width``, ``plateau``, ``freq``, ``sigma`` and ``drag_detuning``
  change the pulse's shape, so a point renders the changed pulses alone, over
  their own samples; a level step's ``amp`` renders the line's steps again;
- on a line with IIR stages (``li['extra']``), which are linear and
  time-invariant about the resting level, what changed is filtered on its own
  and added from its first sample to the end of the line.

Each point equals what compiling that point's descriptions and sampling them
gives, to within 1e-12 of each line's largest magnitude.

    from halvane.sweep import Axis, Sweep

    sweep = Sweep(lines, record, {
        "amp": Axis("amp", np.linspace(0, 1, 41), tag="rabi"),
        "phase": Axis("phase", np.linspace(-np.pi, np.pi, 25), tag="rabi")})
    for (i, j), waves in sweep:          # waves: line -> (X, W, S)
        ...
"""

from __future__ import annotations

import cmath
import concurrent.futures
import copy as _copy
import itertools
import math
import time
from collections.abc import Iterator, Mapping, Sequence
from typing import Any, Callable

import numpy as np

from halvane import _sweep
from halvane import wavespec_handling as wh
from halvane.records import _line_records

__all__ = ["Axis", "Sweep", "SUPERPOSED_KEYS", "RENDERED_KEYS"]

#: Keys a point applies to a pulse's rendering as a factor (``vz``: to the
#: later pulses of the frame, with ``Sweep(..., frames=...)``).
SUPERPOSED_KEYS = ("amp", "phase", "phase1", "drag_scale", "vz")
#: Keys for which a point renders the pulse again (and a level step's ``amp``).
RENDERED_KEYS = ("pos", "width", "plateau", "freq", "sigma", "drag_detuning")
_TAG = "sweep"
_TIMING = ("pos", "width", "plateau")  # keys that move a pulse, or its frame increment
_TASK_SECONDS = 0.1  # work per task of Sweep.map
_PROBE_SECONDS = 0.01  # the first chunk, run here, runs at least this long
_IN_PLACE_RUN = 64  # a filtered line is made afresh at every this many-th point, and moved in place between
_NEGLIGIBLE = 2.0**-60  # a filter state this much below the line's peak adds nothing it keeps


class Axis:
    """One dimension of a sweep: a key of some pulses and its values.

    Parameters
    ----------
    key : str
        The key of the pulse descriptions that the axis sets: one of
        ``SUPERPOSED_KEYS`` or ``RENDERED_KEYS`` (for a level step only
        ``'amp'``).
    values : sequence of numbers
        The values, one per point of the axis (1-D).
    pulses : sequence of (line, entry index), optional
        The entries the axis sets, by their line and their index in it.
    tag : object, optional
        Instead of ``pulses``: every entry whose ``'sweep'`` key equals
        ``tag`` (put there by a targeted keyword, ``X(0, d__sweep='rabi')``).
    """

    def __init__(self, key: str, values: Sequence[Any], *, pulses: Sequence[tuple[Any, int]] | None = None,
                 tag: Any = None) -> None:
        if not isinstance(key, str) or (key not in SUPERPOSED_KEYS and key not in RENDERED_KEYS):
            raise ValueError(f"a sweep cannot set the key {key!r}; it sets {', '.join(SUPERPOSED_KEYS)} by "
                             f"superposition and {', '.join(RENDERED_KEYS)} by rendering again")
        try:
            arr = np.array(values)
        except Exception as e:
            raise TypeError(f"the values of an axis of {key!r} must be a 1-D sequence of numbers") from e
        if arr.ndim != 1 or arr.dtype.kind not in "iufc":
            what = f"of shape {arr.shape}" if arr.ndim != 1 else f"of dtype {arr.dtype}"
            raise TypeError(f"the values of an axis of {key!r} must be a 1-D sequence of numbers, not an array {what}")
        if (pulses is None) == (tag is None):
            raise ValueError(f"an axis of {key!r} names its pulses by pulses=[(line, index), ...] or by tag=, "
                             "exactly one of them")
        arr.flags.writeable = False
        self.key = key
        self.values = arr
        self.pulses = None if pulses is None else [tuple(p) for p in pulses]
        self.tag = tag

    def __len__(self) -> int:
        return len(self.values)

    def __repr__(self) -> str:
        where = f"pulses={self.pulses!r}" if self.pulses is not None else f"tag={self.tag!r}"
        return f"Axis({self.key!r}, <{len(self.values)} values>, {where})"


class _Pulse:
    """A swept pulse: its description, the axes that set it, its renderings."""

    def __init__(self, line: Any, order: int, pd: Mapping[str, Any]) -> None:
        self.line, self.order, self.pd = line, order, _copy.copy(pd)
        self.axes: dict[str, int] = {}  # key -> position of its axis
        self.linear = True  # the envelope is amp times a function of the other keys
        self.rendered: tuple[str, ...] = ()  # keys that need a new rendering
        self.split = False  # DRAG rendered apart, drag_scale applied as a factor
        self.frame = 0.0  # the phase the fold gave it (frame_phase), with frames=
        self.turns: list[tuple[int, float, int]] = []  # (vz axis, its entry's own vz, sign) of the increments

    def plan(self) -> None:
        shape = self.pd.get("shape")
        fn = wh.shapeTable.get(shape) if isinstance(shape, str) else shape
        self.linear = _is_native_envelope(fn)
        if self.linear:
            self.rendered = tuple(k for k in self.axes if k in RENDERED_KEYS)
            self.split = "drag_scale" in self.axes
        else:  # a shape of the user's own: every key may change it, and the frame's phase
            self.rendered = tuple(self.axes) + (("frame",) if self.turns else ())

    def values(self, axes: Sequence[Axis], idx: tuple[int, ...]) -> dict[str, Any]:
        """The keys the point sets, and 'frame': the phase the fold adds to phase1."""
        vals = {k: axes[pos].values[idx[pos]].item() for k, pos in self.axes.items()}
        vals["frame"] = self.frame + sum(s * (axes[pos].values[idx[pos]].item() - vz0) for pos, vz0, s in self.turns)
        return vals


def _is_native_envelope(fn: object) -> bool:
    """True for the package's own envelope functions, which are linear in amp."""
    return (fn is not None and getattr(fn, "__module__", None) == "halvane.wavespec_handling"
            and type(fn).__name__ == "nb_func" and fn is not wh.sine_edge)


class _Line:
    """A line that some axis changes, with what it needs for every point."""

    def __init__(self, name: Any, record: Mapping[str, Any], X: np.ndarray, W: np.ndarray, S: np.ndarray) -> None:
        self.name, self.X, self.W, self.S = name, X, W, S
        peak = float(np.abs(W).max(initial=0))
        self.peak = peak if math.isfinite(peak) else 0.0  # the magnitude of W at rest, where finite
        self.N = len(X)
        self.srate = record["srate"]
        self.st = record.get("st", 0)
        self.gof = record["offset_global"]
        extra = record.get("extra")
        # (b0, b1, a1) of each stage, as fix() forms them
        self.stages: list[tuple[complex, complex, complex]] | None = (
            [tuple(np.array(wh.cal_iir_coef(v)) + np.array([1, -1, 1])) for v in extra.values()]  # type: ignore[misc]
            if isinstance(extra, dict) else None)
        self.pulses: list[_Pulse] = []
        self.steps: list[tuple[int, int, Mapping[str, Any]]] = []  # (order, first sample, description)
        self.step_axes: dict[int, int] = {}  # order of a swept level step -> position of its axis
        self.base: np.ndarray | None = None  # the steps alone, as recorded

    def step_first(self, pd: Mapping[str, Any]) -> int:
        """The first sample a level step writes, as the driver takes it."""
        a = int((pd["pos"] - self.st) * self.srate)
        return min(max(a, 0), self.N)

    def cut(self, order: int) -> int:
        """Where a later level step takes over from a pulse listed at `order`."""
        return min((first for o, first, _ in self.steps if o > order), default=self.N)

    def base_record(self) -> dict[str, Any]:
        return {"N": self.N, "srate": self.srate, "st": self.st, "offset_global": self.gof}

    def render_steps(self, amps: Mapping[int, Any] | None = None) -> np.ndarray:
        """The level steps alone, with `amps` (order -> amp) in place of theirs."""
        amps = amps or {}
        pds = [dict(pd, amp=amps[o]) if o in amps else pd for o, _, pd in self.steps]
        return wh.pdc2pulse(pds, self.base_record())[1]

    def render(self, pd: Mapping[str, Any], order: int, split: bool, unit: bool):
        """One pulse over its own samples, as the driver renders it.

        With `unit`, amp is 1 and the phases 0 (the point applies them); with
        `split`, the DRAG part of drag_scale comes apart, for a unit
        coefficient. Returns (first, Ew, Es, Dw, Ds), cut where a later level
        step takes over, or None for a pulse that adds nothing.
        """
        if unit:
            pd["phase"], pd["phase1"]  # the point reads them: missing, they raise here
            pd = dict(pd, amp=1.0, phase=0, phase1=0)
        st, ed = wh.rng(pd, self.st, self.srate, self.N)
        if ed - st < 2:
            return None
        wX = self.X[st:ed]
        shape = pd["shape"]
        if type(shape) is str:
            sh = wh.shapeTable[shape](wX, pd, {})
        elif callable(shape):
            sh = shape(wX, pd, {})
        else:
            raise TypeError(f"pulse shape {shape!r} is neither a str nor callable")
        sh = np.asarray(sh, dtype=np.complex128)
        srate = self.srate
        D = 1j * wh.grad(sh) * srate if split else None
        d = 0 if split else pd.get("drag_scale", 0)
        if d != 0 or not np.isfinite(sh).all():  # a zero coefficient adds exact zeros to a finite envelope
            sh += 1j * wh.grad(sh) * srate * d
        for d in pd.get("drag_list", []):
            sh += 1j * wh.grad(sh) * srate * d
            if D is not None:
                D += 1j * wh.grad(D) * srate * d
        drag_t = pd.get("drag_detuning", 0)
        center = (pd["width"] + pd["plateau"]) / 2 + pd["pos"]
        K = pd.get("amp_scale", 1) * cmath.exp(1j * (pd["phase"] + pd["phase1"]))
        ramp = np.exp(2j * np.pi * drag_t * (wX - center)) if drag_t != 0 else None
        cr = wh.carrier(wX, pd["freq"], 0, 0)
        end = min(ed, self.cut(order))
        if end <= st:
            return None
        n = end - st
        out = []
        for part in (sh, D):
            if part is None:
                out += [None, None]
                continue
            part = K * part[:n] if ramp is None else (K * part * ramp)[:n]
            out += [part * cr[:n], part]
        return (st, *out)


class Sweep:
    """A sweep over the points of some axes, each from the pulses it changes.

    Parameters
    ----------
    lines : mapping
        Line name to pulse descriptions, as ``circuit.collect_pdc`` gives them
        (folded by ``circuit.fold_vz`` or not). The sweep keeps a copy.
    li : mapping
        One sampling record for every line, or one per line name, as
        ``wavespec_handling.sample_lines`` takes it.
    axes : mapping
        Axis name to ``Axis``, in order: the points run over the product of
        the axes' values, the last axis fastest (C order).
    frames : mapping, optional
        The keywords of ``circuit.fold_vz`` (``{}``, or ``follow=`` and
        ``sign=``): `lines` are then unfolded, and every point is folded
        before it is sampled. A ``'vz'`` axis needs it: a frame increment
        turns every later pulse of its frame, each by its line's sign
        (within rounding of the fold's own arithmetic, which keeps the
        frame's phase in [-pi, pi]). With frames, an axis may move (``pos``,
        ``width``, ``plateau``) only pulses that the fold never turns and
        that increment no frame, and a ``freq`` axis may not reach or leave 0.

    Notes
    -----
    A point equals what setting its values in the descriptions, sampling
    them (``sample_lines``) gives, to within 1e-12 of each line's largest
    magnitude. Lines no axis changes come back as the same read-only arrays
    at every point. ``amp``, ``phase``, ``phase1`` and ``drag_scale`` scale
    and turn one rendering of each swept pulse; ``pos``, ``width``,
    ``plateau``, ``freq``, ``sigma``, ``drag_detuning`` and a level step's
    ``amp`` render the changed entries again at each point (and never the
    others). On a line with IIR stages, what changed is filtered on its own
    from its first sample to the end of the line.

    A ``Sweep`` pickles with its descriptions and renderings (the lines at
    rest are sampled again where it is unpickled), so a worker needs
    nothing else.
    """

    def __init__(self, lines: Mapping[Any, Sequence[Mapping[str, Any]]], li: Mapping[str, Any],
                 axes: Mapping[str, Axis], *, frames: Mapping[str, Any] | None = None) -> None:
        if not isinstance(lines, Mapping):
            raise TypeError(f"lines must be a mapping from line name to pulse descriptions, not {type(lines).__name__}")
        if not isinstance(axes, Mapping):
            raise TypeError(f"axes must be a mapping from axis name to Axis, not {type(axes).__name__}")
        for name, axis in axes.items():
            if not isinstance(axis, Axis):
                raise TypeError(f"axis {name!r} must be an Axis, not {type(axis).__name__}")
        self._entries = {name: [_copy.copy(pd) for pd in pds] for name, pds in lines.items()}
        self._records = {name: _copy.deepcopy(rec) for name, rec in _line_records(li, self._entries).items()}
        self._names = list(axes)
        self._axes = list(axes.values())
        self._frames = None if frames is None else dict(frames)
        self._targets = [self._resolve(name, axis) for name, axis in zip(self._names, self._axes)]
        self._check_overlaps()
        self._folded = self._entries if self._frames is None else self._fold(self._entries)
        self._turns = self._frame_turns()
        self._build()

    # ---- construction --------------------------------------------------

    def _resolve(self, name: str, axis: Axis) -> list[tuple[Any, int]]:
        """The (line, index) pairs the axis sets, checked."""
        if axis.pulses is not None:
            for target in axis.pulses:
                if len(target) != 2:
                    raise ValueError(f"axis {name!r}: a pulse is named by a pair (line, entry index), not {target!r}")
                line, index = target
                if line not in self._entries:
                    raise ValueError(f"axis {name!r}: there is no line {line!r}")
                entries = self._entries[line]
                if not isinstance(index, (int, np.integer)) or isinstance(index, bool) \
                        or not 0 <= index < len(entries):
                    raise ValueError(f"axis {name!r}: line {line!r} has no entry #{index!r} "
                                     f"(it has {len(entries)})")
            targets = [(line, int(index)) for line, index in axis.pulses]
        else:
            targets = [(line, k) for line, pds in self._entries.items() for k, pd in enumerate(pds)
                       if _carries(pd, axis.tag)]
            if not targets:
                raise ValueError(f"axis {name!r}: no pulse carries {_TAG!r}: {axis.tag!r}")
        if axis.key == "vz" and self._frames is None:
            raise ValueError(f"axis {name!r}: a 'vz' axis needs frames= (the keywords of circuit.fold_vz, {{}} "
                             "for every line a frame of its own): the sweep folds every point")
        for line, k in targets:
            if "edge_shape" in self._entries[line][k] and axis.key not in ("amp", "vz"):
                raise ValueError(f"axis {name!r}: line {line!r} entry #{k} is a level step, whose "
                                 f"{axis.key!r} a sweep cannot set (only its 'amp')")
        return targets

    def _check_overlaps(self) -> None:
        seen: dict[tuple[Any, int, str], str] = {}
        for name, axis, targets in zip(self._names, self._axes, self._targets):
            for line, k in targets:
                other = seen.setdefault((line, k, axis.key), name)
                if other != name:
                    raise ValueError(f"axes {other!r} and {name!r} both set {axis.key!r} of line {line!r} entry #{k}")

    def _fold(self, entries: Mapping[Any, list]) -> dict[Any, list]:
        from halvane import circuit

        assert self._frames is not None
        return circuit.fold_vz(entries, **self._frames)[0]

    def _frame_turns(self) -> dict[tuple[Any, int], list[tuple[int, float, int]]]:
        """(line, entry) -> the vz axes whose increments turn it: found by
        folding with each swept increment one radian larger."""
        turns: dict[tuple[Any, int], list[tuple[int, float, int]]] = {}
        for pos, (axis, targets) in enumerate(zip(self._axes, self._targets)):
            if axis.key != "vz":
                continue
            for line, k in targets:
                vz0 = self._entries[line][k].get("vz", 0)
                probe = dict(self._entries)
                probe[line] = list(probe[line])
                probe[line][k] = dict(probe[line][k], vz=vz0 + 1.0)
                folded = self._fold(probe)
                for name, pds in folded.items():
                    for j, pd in enumerate(pds):
                        turn = math.remainder(pd.get("phase1", 0) - self._folded[name][j].get("phase1", 0), 2 * math.pi)
                        if abs(turn) > 0.5:
                            turns.setdefault((name, j), []).append((pos, vz0, round(turn)))
        return turns

    def _check_frames(self) -> None:
        """With frames, no axis may change which increments turn which pulses."""
        if self._frames is None:
            return
        for name, axis, targets in zip(self._names, self._axes, self._targets):
            for line, k in targets:
                pd = self._entries[line][k]
                never_turned = "edge_shape" in pd or pd.get("freq", 0) == 0
                if axis.key in _TIMING and not (never_turned and pd.get("vz", 0) == 0 and "frame_phase"
                                                not in self._folded[line][k]):
                    raise ValueError(f"axis {name!r}: with frames=, {axis.key!r} of line {line!r} entry #{k} "
                                     "cannot be swept, as moving it changes the increments that turn its frame")
                if axis.key == "freq" and (pd.get("freq", 0) == 0 or bool((axis.values == 0).any())):
                    raise ValueError(f"axis {name!r}: with frames=, 'freq' of line {line!r} entry #{k} cannot "
                                     "reach or leave 0, which the fold never turns")

    def _build(self) -> None:
        self._pulses: dict[tuple[Any, int], _Pulse] = {}
        for pos, (axis, targets) in enumerate(zip(self._axes, self._targets)):
            if axis.key == "vz":
                continue
            for line, k in targets:
                pd = self._entries[line][k]
                if "edge_shape" in pd:
                    continue
                p = self._pulses.setdefault((line, k), _Pulse(line, k, pd))
                p.axes[axis.key] = pos
        for (line, k), turns in self._turns.items():
            p = self._pulses.setdefault((line, k), _Pulse(line, k, self._entries[line][k]))
            p.turns = turns
        for (line, k), p in self._pulses.items():
            p.frame = self._folded[line][k].get("frame_phase", 0.0) if self._frames is not None else 0.0
            p.plan()
        self._check_frames()
        self._steps = {(line, k): pos for pos, (axis, targets) in enumerate(zip(self._axes, self._targets))
                       for line, k in targets if "edge_shape" in self._entries[line][k]}
        swept = {line for axis, targets in zip(self._axes, self._targets) if axis.key != "vz"
                 for line, _ in targets} | {line for line, _ in self._turns}
        self._swept_lines = [name for name in self._entries if name in swept]
        self._sample_rest()
        self._render_fixed()

    def _sample_rest(self) -> None:
        """Every line without its swept pulses, once; the lines' plans."""
        fixed = {name: [pd for k, pd in enumerate(pds) if (name, k) not in self._pulses]
                 for name, pds in self._folded.items()}
        waves = wh.sample_lines(fixed, self._records)  # type: ignore[arg-type]  # any mappings
        self._rest = {}
        for name, (X, W, S) in waves.items():
            for a in (X, W, S):
                a.flags.writeable = False
            self._rest[name] = (X, W, S)
        self._lines: dict[Any, _Line] = {}
        for name in self._swept_lines:
            line = _Line(name, self._records[name], *waves[name])
            for k, pd in enumerate(self._entries[name]):
                if "edge_shape" in pd:
                    line.steps.append((k, line.step_first(pd), pd))
                    if (name, k) in self._steps:
                        line.step_axes[k] = self._steps[name, k]
            if line.step_axes:
                line.base = line.render_steps()
            self._lines[name] = line
        for p in self._pulses.values():
            self._lines[p.line].pulses.append(p)

    def _render_fixed(self) -> None:
        """The renderings of the pulses that no point renders again."""
        self._fixed: dict[tuple[Any, int], Any] = {}
        for key, p in self._pulses.items():
            if not p.rendered:
                self._fixed[key] = _render(self._lines[p.line], p, p.pd)

    # ---- pickling: the lines at rest are sampled again where unpickled --

    def __getstate__(self) -> dict[str, Any]:
        state = dict(self.__dict__)
        for name in ("_rest", "_lines"):
            del state[name]
        return state

    def __setstate__(self, state: dict[str, Any]) -> None:
        self.__dict__.update(state)
        self._sample_rest()

    # ---- the points ----------------------------------------------------

    @property
    def shape(self) -> tuple[int, ...]:
        """The number of values of each axis, in order."""
        return tuple(len(a) for a in self._axes)

    def __len__(self) -> int:
        return math.prod(self.shape)

    @property
    def coords(self) -> dict[str, np.ndarray]:
        """Axis name to its values (read-only arrays)."""
        return {name: axis.values for name, axis in zip(self._names, self._axes)}

    @property
    def axes(self) -> dict[str, Axis]:
        """Axis name to Axis, in order."""
        return dict(zip(self._names, self._axes))

    @property
    def lines(self) -> list[Any]:
        """The names of the lines some axis changes, in the order of ``lines``."""
        return list(self._swept_lines)

    def __repr__(self) -> str:
        dims = " x ".join(f"{n} ({len(a)})" for n, a in zip(self._names, self._axes)) or "no axes"
        return (f"<Sweep: {len(self)} points, {dims}; {len(self._pulses) + len(self._steps)} entries "
                f"on {len(self._swept_lines)} of {len(self._entries)} lines>")

    def _multi_index(self, index: Any) -> tuple[int, ...]:
        shape = self.shape
        if isinstance(index, (int, np.integer)) and not isinstance(index, bool):
            n = len(self)
            i = int(index)
            if not -n <= i < n:
                raise IndexError(f"point {i} is out of range for a sweep of {n} points")
            return tuple(int(v) for v in np.unravel_index(i % n, shape)) if shape else ()
        if isinstance(index, tuple):
            if len(index) != len(shape) or not all(
                    isinstance(i, (int, np.integer)) and not isinstance(i, bool) for i in index):
                raise IndexError(f"a point of this sweep is named by {len(shape)} integer indices, not {index!r}")
            out = []
            for i, n, name in zip(index, shape, self._names):
                if not -n <= i < n:
                    raise IndexError(f"index {int(i)} is out of range for axis {name!r} of {n} values")
                out.append(int(i) % n)
            return tuple(out)
        raise IndexError(f"a point is named by an int or a tuple of ints, not {type(index).__name__}")

    def sample(self, index: int | tuple[int, ...], out: Mapping[Any, tuple[np.ndarray, np.ndarray]] | None = None
               ) -> dict[Any, tuple[np.ndarray, np.ndarray, np.ndarray]]:
        """The lines at one point: line name to ``(X, W, S)``.

        Parameters
        ----------
        index : int or tuple of int
            The point: its position in C order, or one index per axis.
        out : mapping, optional
            Swept line name to a pair ``(W, S)`` of arrays to write instead
            of new ones (writeable, contiguous complex128 of the line's
            length, as ``sample_lines`` takes them).

        Returns
        -------
        dict
            Every line, in the order of ``lines``. The swept lines' W and S
            are new arrays (or the ``out`` buffers); the other lines, and
            every X, are the sweep's own read-only arrays.
        """
        idx = self._multi_index(index)
        buffers = self._out_buffers(out)
        state = _State(self)
        result = dict(self._rest)
        for name in self._swept_lines:
            line = self._lines[name]
            W, S = buffers.get(name) or (np.empty(line.N, np.complex128), np.empty(line.N, np.complex128))
            state.write(line, idx, W, S, fresh=True)
            result[name] = (line.X, W, S)
        return result

    def _out_buffers(self, out: Any) -> dict[Any, tuple[np.ndarray, np.ndarray]]:
        if out is None:
            return {}
        return _sweep.check_out(out, {name: line.N for name, line in self._lines.items()})

    def points(self, start: int = 0, stop: int | None = None, *, copy: bool = False
               ) -> Iterator[tuple[tuple[int, ...], dict[Any, tuple[np.ndarray, np.ndarray, np.ndarray]]]]:
        """The points from `start` to `stop` (positions in C order), with their lines.

        Yields ``(index, lines)``: the index tuple and line name to
        ``(X, W, S)``. The swept lines' W and S are buffers that the iteration
        owns and reuses (read-only views of them): each point writes only what
        changed since the one before, the swept pulses' samples, or on a line
        with IIR stages the stages' response to what changed, added in place
        until it falls below 2^-60 of the line's peak. They hold the point
        until the next one is made; with ``copy=True`` every point gets arrays
        of its own. ``for index, lines in sweep`` is ``points()``.

        A line with IIR stages is made afresh at every 64th position and moved
        in place from there: its samples differ from ``sample(index)`` by a
        few roundings at most, and depend on the position alone, however the
        points are split among calls, chunks or workers (a `start` between
        two such positions makes the points from the one before, unseen).
        """
        n = len(self)
        stop = n if stop is None else stop
        for name, v in (("start", start), ("stop", stop)):
            if not isinstance(v, (int, np.integer)) or isinstance(v, bool) or not 0 <= v <= n:
                raise ValueError(f"{name} must be a position from 0 to {n}, not {v!r}")
        state = _State(self)
        buffers = {name: (np.empty(line.N, np.complex128), np.empty(line.N, np.complex128))
                   for name, line in self._lines.items()}
        views = {}
        for name, (W, S) in buffers.items():
            vW, vS = W.view(), S.view()
            vW.flags.writeable = vS.flags.writeable = False
            views[name] = (self._lines[name].X, vW, vS)
        filtered = any(self._lines[name].stages is not None for name in self._swept_lines)
        first = int(start) - int(start) % _IN_PLACE_RUN if filtered else int(start)
        indices = itertools.islice(itertools.product(*map(range, self.shape)), first, int(stop))
        for position, idx in enumerate(indices, first):
            for name in self._swept_lines:
                W, S = buffers[name]
                state.write(self._lines[name], idx, W, S, fresh=False, afresh=position % _IN_PLACE_RUN == 0)
            if position < start:
                continue
            result = dict(self._rest)
            for name in self._swept_lines:
                W, S = buffers[name]
                result[name] = (self._lines[name].X, W.copy(), S.copy()) if copy else views[name]
            yield idx, result

    def __iter__(self) -> Iterator[tuple[tuple[int, ...], dict[Any, tuple[np.ndarray, np.ndarray, np.ndarray]]]]:
        return self.points()

    def map(self, fn: Callable[[tuple[int, ...], dict], Any], *, client: Any = None, executor: Any = None,
            chunk: int | None = None) -> list[Any]:
        """``fn(index, lines)`` at every point, its results in the points' order.

        Parameters
        ----------
        fn : callable
            Called with each point's index tuple and lines, as iteration
            gives them (buffers reused from point to point: copy what you
            keep). Sent to the workers, so it must pickle.
        client : dask.distributed.Client, optional
            Run on its cluster: the sweep goes to every worker once.
        executor : concurrent.futures.Executor, optional
            Run on its workers; the sweep goes with every task.
        chunk : int, optional
            Points per task. By default the first points run here until
            they take some 10 ms, and the rest go in tasks of at least about
            100 ms of work each, as many as a multiple of the workers'
            threads where there is that much work: never one task per
            point. Tasks begin at every 64th position where they can, so
            that no task makes points it does not return (see ``points``).
        """
        if client is not None and executor is not None:
            raise ValueError("map runs on a client or on an executor, not both")
        n = len(self)
        if client is None and executor is None:
            return [fn(index, lines) for index, lines in self.points()]
        if chunk is not None:
            chunk = int(chunk)
            if chunk < 1:
                raise ValueError(f"chunk must be at least 1, not {chunk}")
        if executor is not None:
            results, start, chunk = self._probe(fn, chunk, _threads(executor=executor))
            bounds = [(a, min(a + chunk, n)) for a in range(start, n, chunk)]
            for part in [f.result() for f in [executor.submit(_run_chunk, self, a, b, fn) for a, b in bounds]]:
                results.extend(part)
            return results
        # The sweep goes to every worker while the first points run here.
        with concurrent.futures.ThreadPoolExecutor(1) as sender:
            sending = sender.submit(client.scatter, self, broadcast=True, hash=False)
            results, start, chunk = self._probe(fn, chunk, _threads(client=client))
            shared = sending.result()
        try:
            futures = [client.submit(_run_boxed_chunk, shared, a, min(a + chunk, n), fn, pure=False)
                       for a in range(start, n, chunk)]
            for box in client.gather(futures):
                results.extend(box.results)
        finally:
            del shared
        return results

    def _probe(self, fn: Callable, chunk: int | None, threads: int) -> tuple[list[Any], int, int]:
        """Without `chunk`, the first points, run here until they take
        _PROBE_SECONDS and up to a 64th position, and the points per task
        that the time they took gives; (results, next position, chunk)."""
        if chunk is not None:
            return [], 0, chunk
        results = []
        t0 = time.perf_counter()
        for index, lines in self.points():
            results.append(fn(index, lines))
            if time.perf_counter() - t0 >= _PROBE_SECONDS and len(results) % _IN_PLACE_RUN == 0:
                break
        per_point = (time.perf_counter() - t0) / max(len(results), 1)
        return results, len(results), _chunk(len(self) - len(results), per_point, threads)


def _threads(client: Any = None, executor: Any = None) -> int:
    """How many tasks the client's cluster or the executor runs at once."""
    if client is not None:
        return max(1, sum(client.nthreads().values()))
    return max(1, getattr(executor, "_max_workers", 1))


def _chunk(points: int, per_point: float, threads: int) -> int:
    """Points per task for `points` points of `per_point` seconds: tasks of at
    least _TASK_SECONDS, as many as a multiple of `threads` where there is
    work enough, so that the threads finish together, and a multiple of
    _IN_PLACE_RUN points where that many make a task."""
    tasks = max(1, int(points * per_point / _TASK_SECONDS))
    if tasks >= threads:
        tasks -= tasks % threads
    chunk = max(1, math.ceil(points / tasks))
    return chunk if chunk < _IN_PLACE_RUN else math.ceil(chunk / _IN_PLACE_RUN) * _IN_PLACE_RUN


def _run_chunk(sweep: Sweep, start: int, stop: int, fn: Callable) -> list[Any]:
    return [fn(index, lines) for index, lines in sweep.points(start, stop)]


class _Box:
    """A chunk's results, which Dask sends as one pickle: a bare list it
    would serialize item by item, some 20 µs an item."""

    def __init__(self, results: list[Any]) -> None:
        self.results = results


def _run_boxed_chunk(sweep: Sweep, start: int, stop: int, fn: Callable) -> _Box:
    return _Box(_run_chunk(sweep, start, stop, fn))


def _carries(pd: Any, tag: Any) -> bool:
    try:
        return _TAG in pd and bool(pd[_TAG] == tag)
    except Exception:
        return False


class _State:
    """What one run of points keeps: renderings of its current shapes, and
    the samples of each line that the last point changed."""

    def __init__(self, sweep: Sweep) -> None:
        self.sweep = sweep
        self.renders: dict[tuple[Any, int], tuple[tuple, Any]] = {}
        # line -> the samples [lo, hi) of S and of W that differ from rest
        self.dirty: dict[Any, tuple[int, int, int, int]] = {}
        # filtered line -> (first sample, input) of the stages at the last point
        self.inputs: dict[Any, tuple[int, np.ndarray]] = {}

    def rendering(self, line: _Line, p: _Pulse, vals: dict[str, Any]):
        key = (p.line, p.order)
        if not p.rendered:
            return self.sweep._fixed[key]
        params = tuple(vals[k] for k in p.rendered)
        got = self.renders.get(key)
        if got is None or got[0] != params:
            pd = dict(p.pd, **{k: vals[k] for k in p.rendered if k != "frame"})
            if not p.linear and vals["frame"]:
                pd["phase1"] = pd["phase1"] + vals["frame"]
            got = (params, _render(line, p, pd))
            self.renders[key] = got
        return got[1]

    def contributions(self, line: _Line, idx: tuple[int, ...]):
        """(first, W part, S part) of every swept entry at point `idx`."""
        axes = self.sweep._axes
        parts = []
        for p in line.pulses:
            vals = p.values(axes, idx)
            r = self.rendering(line, p, vals)
            if r is None:
                continue
            first, Ew, Es, Dw, Ds = r
            if p.linear:
                pd = p.pd
                amp = vals["amp"] if "amp" in vals else pd["amp"]
                phase = (vals["phase"] if "phase" in vals else pd["phase"]) + \
                    ((vals["phase1"] if "phase1" in vals else pd["phase1"]) + vals["frame"])
                c = amp * cmath.exp(1j * phase)
                if p.split:
                    d = c * (vals["drag_scale"] if "drag_scale" in vals else pd.get("drag_scale", 0))
                    parts.append((first, c * Ew + d * Dw, c * Es + d * Ds))
                else:
                    parts.append((first, c * Ew, c * Es))
            else:
                parts.append((first, Ew, Es))
        if line.step_axes:
            amps = {o: axes[pos].values[idx[pos]].item() for o, pos in line.step_axes.items()}
            first = min(f for o, f, _ in line.steps if o in amps)
            delta = (line.render_steps(amps) - line.base)[first:]
            parts.append((first, delta, delta))
        return parts

    def write(self, line: _Line, idx: tuple[int, ...], W: np.ndarray, S: np.ndarray, fresh: bool,
              afresh: bool = True) -> None:
        """W and S of `line` at point `idx`. Unless `fresh`, they hold the
        last point this state wrote, and only what differs is written; a
        filtered line's W moves there in place, unless `afresh`."""
        parts = self.contributions(line, idx)
        lo = min((f for f, _, _ in parts), default=line.N)
        hi = max((f + len(w) for f, w, _ in parts), default=lo)
        prev = None if fresh else self.dirty.get(line.name)
        _restore(S, line.S, prev and prev[:2])
        for f, _, s in parts:
            S[f:f + len(s)] += s
        if line.stages is None:
            _restore(W, line.W, prev and prev[:2])
            for f, w, _ in parts:
                W[f:f + len(w)] += w
            self.dirty[line.name] = (lo, hi, lo, hi)
            return
        x = np.zeros(hi - lo, np.complex128)
        for f, w, _ in parts:
            x[f - lo:f - lo + len(w)] += w
        start = lo if prev is None else min(lo, prev[2])  # W may differ from the rest from here on
        last = None if prev is None else self.inputs[line.name]
        if last is not None and not afresh and np.isfinite(x).all() and np.isfinite(last[1]).all():
            # The stages are linear: W moves from the last point to this one
            # by their response to what its input changed by, added in place
            # (W alone is read and written, not the rest as well), and only
            # as long as the stages' state is above 2^-60 of the line's peak,
            # a 2^-8 of the unit in its last place. W is made afresh where the
            # caller says (every _IN_PLACE_RUN points), so that what these
            # additions round or leave out never piles up.
            a, b = min(lo, last[0]), max(hi, last[0] + len(last[1]))
            d = np.zeros(b - a, np.complex128)
            d[lo - a:hi - a] += x
            d[last[0] - a:last[0] - a + len(last[1])] -= last[1]
            peak = max(line.peak, np.abs(x).max(initial=0), np.abs(last[1]).max(initial=0))
            _sweep.add_filtered(W, W, a, d, line.stages, negligible=peak * _NEGLIGIBLE)
        else:
            if prev is None:
                np.copyto(W[:start], line.W[:start])
            # W[start:] = the rest + the line's IIR stages over x from lo, then zeros
            padded = np.zeros(max(hi - start, 0), np.complex128)
            padded[lo - start:] = x
            _sweep.add_filtered(W, line.W, start, padded, line.stages)
            start = lo
        self.inputs[line.name] = (lo, x)
        self.dirty[line.name] = (lo, hi, start, line.N if parts or start < lo else lo)


def _restore(out: np.ndarray, rest: np.ndarray, span: tuple[int, int] | None) -> None:
    """out = rest over `span` (everywhere when None)."""
    if span is None:
        np.copyto(out, rest)
    else:
        np.copyto(out[span[0]:span[1]], rest[span[0]:span[1]])


def _render(line: _Line, p: _Pulse, pd: Mapping[str, Any]):
    try:
        return line.render(pd, p.order, p.split, unit=p.linear)
    except Exception as e:
        e.add_note(f"while rendering line {line.name!r} entry #{p.order} for a sweep")
        raise
