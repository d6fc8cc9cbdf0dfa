"""The dicts halvane reads, as TypedDicts for editors and type checkers.

Pulse descriptions, sampling records and qubit information are plain dicts;
every function that takes one also takes any mapping, so these types are for
those who want their editor to complete keys and their type checker to
check values::

    from halvane.records import PulseDescription

    pulse: PulseDescription = {'shape': 'cos', 'pos': 0.0, 'width': 40e-9, 'plateau': 0.0,
                               'amp': 0.5, 'freq': 100e6, 'phase': 0.0, 'phase1': 0.0}

Every key is optional to the type (``total=False``); which keys a call
needs, with their units and defaults, is in the README's reference tables.
Times are in seconds, frequencies in hertz, phases in radians.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Mapping
from typing import Any, TypedDict

__all__ = ["PulseDescription", "SamplingRecord", "LineInfo", "QubitInfo", "PulseLike", "RecordLike", "QubitInfoLike",
           "SHAPE_KEYS"]

Number = float | complex


class PulseDescription(TypedDict, total=False):
    """One pulse, or (with ``edge_shape``) a level step, on a control line."""

    shape: str | Callable[..., Any]  #: a name in ``shapeTable``, or ``f(X, pd, cp)``
    edge_shape: str  #: makes the entry a level step; 'sine_edge'
    pos: float  #: start, s
    width: float  #: both edges together, s
    plateau: float  #: flat top, s
    amp: Number  #: amplitude; for a level step the new level
    freq: float  #: carrier, Hz
    phase: float  #: rad
    phase1: float  #: rad, added to ``phase``
    amp_scale: Number  #: default 1
    drag_scale: float  #: s, default 0
    drag_list: Iterable[float]  #: s, default []
    drag_detuning: float  #: Hz, default 0
    scale_a: float  #: 'sine': start of the phase window, default 0
    scale_b: float  #: 'sine': end of the phase window, default 1
    left_scale: float  #: 'hcos_asys': rising edge factor, default 1
    right_scale: float  #: 'hcos_asys': falling edge factor, default 1
    epsilon: float  #: 'tanh' and 'hyper': edge steepness
    sigma: float  #: 'gauss': standard deviation of the edges, s, default width/4
    vz: float  #: virtual-Z phase, rad: carried, never applied to the waveform
    phase_offs: float  #: merged in from a gate's calibration entry
    frame_phase: float  #: rad: the frame's phase that ``circuit.fold_vz`` added to ``phase1``
    sweep: Any  #: the tag by which a ``halvane.sweep.Axis`` finds the pulse


#: The keys a shape of ``shapeTable`` reads beyond those every pulse needs
#: (``halvane.check`` reports them missing); a shape that needs none is absent.
SHAPE_KEYS: dict[str, tuple[str, ...]] = {"tanh": ("epsilon",), "hyper": ("epsilon",)}


class SamplingRecord(TypedDict, total=False):
    """What ``pdc2pulse`` samples: N samples at ``srate`` from ``st``."""

    N: int  #: number of samples (required)
    srate: float  #: samples per second (required)
    offset_global: Number  #: resting level before the first level step (required)
    st: float  #: time of the first sample, s, default 0
    extra: dict[Any, Any]  #: IIR stages: each value ``[A, B, tau, Ts]``


class LineInfo(TypedDict, total=False):
    """One line of a qubit's information, under its local marker."""

    nm: str  #: the line name the pulses are collected under
    pdt: PulseDescription | Mapping[str, Any]  #: the line's template pulse description
    cp: Mapping[str, Any]  #: the calibration dict the recipes read


#: A qubit key's information: local line marker -> that line.
QubitInfo = dict[str, LineInfo]

# What the functions take: the typed dicts, or any mapping with str keys.
PulseLike = PulseDescription | Mapping[str, Any]
RecordLike = SamplingRecord | Mapping[str, Any]
QubitInfoLike = Mapping[str, LineInfo | Mapping[str, Any]]


def _line_records(li: Any, names: Iterable[Any]) -> dict[Any, Any]:
    """The record of each named line, read as ``sample_lines`` reads `li`.

    `li` holds a record per line when it has no key 'N' and has every name;
    anything else, a mapping or not, is one record for all lines (a
    membership test that raises counts as absent).
    """
    names = list(names)

    def has(key: object) -> bool:
        try:
            return key in li
        except Exception:
            return False

    per_line = not has("N") and all(has(name) for name in names)
    return {name: (li[name] if per_line else li) for name in names}
