"""From sampled lines to what an arbitrary-waveform generator loads.

halvane samples lines as complex128 arrays in units of full scale. An
instrument loads integer codes of a given bit depth, I and Q side by side,
in lengths it accepts. This module takes that last step without the silent
failures of doing it by hand:

- ``quantize`` saturates what lies beyond full scale (never wraps it into a
  spike of the opposite sign), writes NaN and infinities as the code of 0
  and counts them, and reports where the first clipped samples are;
  ``dequantize`` is its inverse map.
- ``true_peak`` finds the peak of the band-limited signal between the
  samples, which a check of the samples misses.
- ``clip_report`` samples lines and names the entries (``#k``, their shape
  and ``pos``) whose samples exceed full scale, so you know which pulse to
  turn down.
- ``fit_length`` pads to the instrument's length granularity, ``interleave``
  packs I/Q words with marker bits, ``write`` saves ``.npy``, ``.csv`` or
  ``.wav`` atomically, and ``export_lines`` does all of it for every line of
  a circuit under an ``InstrumentProfile``, with a JSON manifest.

The code of a value ``v`` on a converter of ``bits`` bits is
``rint((v + offset) * (2**(bits-1) - 1) / full_scale)``, saturated at
``±(2**(bits-1) - 1)``: full scale is the largest code, zero is code 0 and
the scale is symmetric (the most negative two's-complement code is never
used). Offset binary adds ``2**(bits-1)`` to that code. A complex value
gives two codes, I (its real part) and Q (its imaginary part), each checked
against full scale on its own, as each drives a converter of its own.
"""

from __future__ import annotations

import dataclasses
import errno
import json
import math
import numbers
import operator
import os
import secrets
import wave
from collections.abc import Callable, Iterable, Mapping
from dataclasses import dataclass
from typing import IO, Any

import numpy as np

from halvane import _export
from halvane.records import _line_records

__all__ = ["QuantizeReport", "quantize", "dequantize", "true_peak", "Entry", "LineClip", "clip_report",
           "fit_length", "interleave", "write", "InstrumentProfile", "GENERIC_16", "GENERIC_14_OFFSET",
           "export_lines"]

_CODINGS = ("twos", "offset")
_FORMATS = ("npy", "csv", "wav")
_GUARD = 5  # the driver renders a pulse on its own samples and five on each side
# A value beyond full scale by rounding only (a carrier's cos(pi/4) * sqrt(2) is
# 1 + 2.2e-16) lands on the top code and is not clipped; quantize's loop agrees.
_ROUNDING = 1 + 4 * np.finfo(np.float64).eps


# ---- arguments ------------------------------------------------------------


def _integer(value: object, name: str, low: int, high: float = math.inf) -> int:
    """``value`` as an int within [low, high], or TypeError / ValueError naming ``name``."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    n = operator.index(value)
    if not low <= n <= high:
        bound = f"from {low} to {high}" if high != math.inf else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, not {n}")
    return n


def _real(value: object, name: str, positive: bool = False) -> float:
    """``value`` as a finite float (positive when asked), or TypeError / ValueError naming ``name``."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    x = float(value)
    if not math.isfinite(x) or (positive and x <= 0):
        raise ValueError(f"{name} must be a {'positive ' if positive else ''}finite number, not {x!r}")
    return x


def _choice(value: object, name: str, choices: tuple[str, ...]) -> str:
    if not isinstance(value, str) or value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, not {value!r}")
    return value


def _numeric(w: object, name: str = "w") -> np.ndarray:
    """``w`` as a numpy array of numbers (not a subclass), or TypeError naming ``name``."""
    try:
        a = np.asarray(w)
    except Exception as e:
        raise TypeError(f"{name} must be an array of numbers ({type(e).__name__}: {e})") from None
    if a.dtype.kind not in "biufc":
        raise TypeError(f"{name} must be an array of numbers, not of dtype {a.dtype}")
    return a


def _code_dtype(bits: int, coding: str) -> np.dtype:
    """The smallest integer type that holds the codes."""
    width = 8 if bits <= 8 else 16 if bits <= 16 else 32
    return np.dtype(f"{'int' if coding == 'twos' else 'uint'}{width}")


# ---- quantisation -----------------------------------------------------------


@dataclass(frozen=True)
class QuantizeReport:
    """What ``quantize`` did to each channel (``'I'`` and ``'Q'``, or ``'value'`` for real samples).

    Attributes
    ----------
    channels : tuple of str
    samples : int
        Samples per channel.
    clipped : tuple of int
        Per channel, the finite values beyond full scale, saturated (a
        value over it by the rounding of the arithmetic that made it, up
        to 4 ulps, lands on the top code and is not counted).
    first_clipped : tuple of tuple of int
        Per channel, the (C-order, flat) indices of the first eight of them.
    excess : float
        The worst excess over full scale, in full-scale units (0.115 for a
        peak of 1.115); 0 when nothing clipped.
    nonfinite : tuple of int
        Per channel, the NaN and infinite values, written as the code of 0.
    """

    channels: tuple[str, ...]
    samples: int
    clipped: tuple[int, ...]
    first_clipped: tuple[tuple[int, ...], ...]
    excess: float
    nonfinite: tuple[int, ...]

    @property
    def ok(self) -> bool:
        """True when every value fitted: nothing clipped, nothing non-finite."""
        return not any(self.clipped) and not any(self.nonfinite)

    def as_dict(self) -> dict[str, Any]:
        """The report as plain JSON-ready values, per channel by name."""
        return {"ok": self.ok, "samples": self.samples, "excess": self.excess,
                "clipped": dict(zip(self.channels, self.clipped)),
                "first_clipped": {c: list(f) for c, f in zip(self.channels, self.first_clipped)},
                "nonfinite": dict(zip(self.channels, self.nonfinite))}

    def __str__(self) -> str:
        if self.ok:
            return f"all {self.samples} samples within full scale"
        parts = []
        for ch, n, first in zip(self.channels, self.clipped, self.first_clipped):
            if n:
                parts.append(f"{ch}: {n} clipped (first at {', '.join(map(str, first))})")
        for ch, n in zip(self.channels, self.nonfinite):
            if n:
                parts.append(f"{ch}: {n} NaN or infinite, written as 0")
        excess = f", up to {self.excess:.4g} of full scale over it" if any(self.clipped) else ""
        return "; ".join(parts) + excess


def quantize(w: object, *, bits: int = 16, full_scale: float = 1.0, offset: float = 0.0,
             coding: str = "twos") -> tuple[np.ndarray, QuantizeReport]:
    """
    Turn samples into DAC codes that saturate, never wrap.

    Parameters
    ----------
    w : array_like of numbers
        Samples in the units of ``full_scale``; complex samples give I and Q.
    bits : int
        Bits of the converter, 2 to 32.
    full_scale : float
        The value that maps to the largest code, ``2**(bits-1) - 1``.
    offset : float
        Added to every sample (to I and Q alike) before it is scaled.
    coding : {'twos', 'offset'}
        Two's complement (signed codes) or offset binary (unsigned, ``2**(bits-1)`` is zero).

    Returns
    -------
    codes : numpy.ndarray
        Integer codes of the smallest fitting type (int8/16/32 or
        uint8/16/32), of ``w``'s shape; complex ``w`` adds a last axis of 2
        (I, Q).
    report : QuantizeReport
        Whether everything fitted, what clipped and where, what was not finite.

    Examples
    --------
    >>> codes, report = quantize([0.5, 1.2, float('nan')], bits=8)
    >>> codes.tolist(), report.ok, report.clipped, report.nonfinite
    ([64, 127, 0], False, (1,), (1,))
    """
    bits = _integer(bits, "bits", 2, 32)
    full_scale = _real(full_scale, "full_scale", positive=True)
    offset = _real(offset, "offset")
    coding = _choice(coding, "coding", _CODINGS)
    a = _numeric(w)
    if a.dtype.kind == "c":
        values = np.ascontiguousarray(a, dtype=np.complex128).view(np.float64)  # I, Q, I, Q, ...
        shape, channels = a.shape + (2,), ("I", "Q")  # type: tuple[int, ...], tuple[str, ...]
    else:
        values = np.ascontiguousarray(a, dtype=np.float64)
        shape, channels = a.shape, ("value",)
    codes = np.empty(shape, dtype=_code_dtype(bits, coding))
    per_channel = _export.quantize(values, codes, len(channels), offset, full_scale, bits, coding == "offset")
    clipped = tuple(c for c, _, _, _ in per_channel)
    peak = max(p for _, _, p, _ in per_channel)
    report = QuantizeReport(
        channels=channels, samples=a.size, clipped=clipped,
        first_clipped=tuple(tuple(first) for _, _, _, first in per_channel),
        excess=peak / full_scale - 1.0 if any(clipped) else 0.0,
        nonfinite=tuple(n for _, n, _, _ in per_channel))
    return codes, report


def dequantize(codes: object, *, bits: int = 16, full_scale: float = 1.0, offset: float = 0.0,
               coding: str = "twos", complex_codes: bool | None = None) -> np.ndarray:
    """
    The samples that DAC codes stand for: the inverse map of ``quantize``.

    Parameters
    ----------
    codes : array_like of int
        Codes as ``quantize`` made them, with the same ``bits``,
        ``full_scale``, ``offset`` and ``coding``.
    complex_codes : bool, optional
        Whether the last axis holds (I, Q) pairs to join into complex
        samples; by default, when it has length 2.

    Returns
    -------
    numpy.ndarray
        float64, or complex128 for (I, Q) pairs. An in-range sample comes
        back within half a step, ``full_scale / (2**(bits-1) - 1) / 2``.
    """
    bits = _integer(bits, "bits", 2, 32)
    full_scale = _real(full_scale, "full_scale", positive=True)
    offset = _real(offset, "offset")
    coding = _choice(coding, "coding", _CODINGS)
    c = _numeric(codes, "codes")
    if c.dtype.kind not in "iu":
        raise TypeError(f"codes must be an array of integers, not of dtype {c.dtype}")
    zero = 2.0 ** (bits - 1) if coding == "offset" else 0.0
    values = (c.astype(np.float64) - zero) * (full_scale / (2.0 ** (bits - 1) - 1)) - offset
    if complex_codes is not None and not isinstance(complex_codes, (bool, np.bool_)):
        raise TypeError(f"complex_codes must be a bool or None, not {type(complex_codes).__name__}")
    if complex_codes is None:
        complex_codes = c.ndim >= 1 and c.shape[-1] == 2
    if not complex_codes:
        return values
    if c.ndim < 1 or c.shape[-1] != 2:
        raise ValueError(f"codes must have a last axis of 2 (I, Q) for complex samples, not shape {c.shape}")
    return values[..., 0] + 1j * values[..., 1]


# ---- the signal between the samples ---------------------------------------------


_CHUNK = 1 << 16  # samples interpolated at a time, so that memory stays bounded
_OVERLAP = 16     # more than the interpolating filter reaches on each side (10 samples)


def _interpolator(oversample: int) -> np.ndarray:
    """The windowed-sinc filter (Kaiser, beta 5, ten samples on each side) with
    each of its ``oversample`` phases scaled to pass a constant unchanged: as
    designed they pass it at up to 1.0007 of itself, which would report a line
    resting at full scale as beyond it."""
    from scipy.signal import firwin  # type: ignore[import-untyped]

    h = firwin(20 * oversample + 1, 1.0 / oversample, window=("kaiser", 5.0))
    for phase in range(oversample):
        h[phase::oversample] /= h[phase::oversample].sum() * oversample  # resample_poly multiplies by oversample
    return h


def _interval_peaks(a: np.ndarray, oversample: int) -> np.ndarray:
    """Per sample of the 1-D array ``a``, the largest magnitude of the band-limited
    signal over its ``oversample`` points (polyphase windowed-sinc FIR), the
    line held at its first and last sample beyond the ends."""
    if oversample == 1 or a.size < 2:
        return np.abs(a)
    from scipy.signal import resample_poly  # type: ignore[import-untyped]

    h = _interpolator(oversample)
    peaks = np.empty(a.size)
    for start in range(0, a.size, _CHUNK):
        stop = min(start + _CHUNK, a.size)
        lo, hi = max(start - _OVERLAP, 0), min(stop + _OVERLAP, a.size)
        smooth = np.abs(resample_poly(a[lo:hi], oversample, 1, window=h, padtype="edge")).reshape(hi - lo, oversample)
        peaks[start:stop] = smooth[start - lo:stop - lo].max(axis=1)
    return peaks


def true_peak(w: object, *, oversample: int = 8) -> float:
    """
    The largest magnitude of the band-limited signal between the samples.

    A converter plays the band-limited signal through its samples, which
    overshoots them near sharp edges and between the samples of a carrier
    near the sample rate: a pulse whose samples all fit can still drive the
    analog output beyond full scale. The samples are interpolated
    ``oversample`` times with a polyphase windowed-sinc filter (the line
    held at its first and last sample beyond the ends).

    Parameters
    ----------
    w : array_like of numbers
        One line's samples. For complex samples the magnitude is the
        modulus ``|I + jQ|``, the amplitude the pair puts out, which is at
        least that of I or of Q alone.
    oversample : int
        Points per sample interval, at least 1 (1 gives the peak of the samples).

    Returns
    -------
    float
        The peak magnitude in the units of ``w``; NaN when a sample is NaN
        or infinite (``quantize`` counts those); 0 for no samples.
    """
    oversample = _integer(oversample, "oversample", 1)
    a = _numeric(w).reshape(-1)
    if a.size == 0:
        return 0.0
    if not np.isfinite(a).all():
        return math.nan
    return float(_interval_peaks(a.astype(np.result_type(a, np.float64)), oversample).max())


# ---- clipping traced to its entries ---------------------------------------------


@dataclass(frozen=True)
class Entry:
    """An entry of a line's pulse list: ``index`` (``#k``), ``kind``, ``shape`` and ``pos``.

    ``kind`` is ``'pulse'``, ``'level step'`` (``shape`` is then its
    ``edge_shape``) or ``'resting level'`` (the record's ``offset_global``
    before any entry; ``index`` is None).
    """

    index: int | None
    kind: str
    shape: object = None
    pos: object = None

    def __str__(self) -> str:
        if self.index is None:
            return "the resting level (offset_global)"
        key = "edge_shape" if self.kind == "level step" else "shape"
        return f"entry #{self.index} ({self.kind}, {key} {self.shape!r}, pos {self.pos!r} s)"


@dataclass(frozen=True)
class LineClip:
    """How one line exceeds full scale, and which entries to turn down.

    Attributes
    ----------
    line : object
        The line's name.
    excess : float
        The worst excess over full scale, in full-scale units, of the
        samples or (when asked) of the signal between them.
    clipped : int
        I and Q values (or real values) beyond full scale.
    nonfinite : int
        NaN and infinite values.
    peak : float or None
        The true peak, when ``clip_report`` was asked for it.
    entries : tuple of Entry
        The entries whose span holds the offending samples. A pulse's span
        is its own samples and five on each side; a level step's runs from
        its first sample to the next level step. A sample in no span (the
        tail of a pre-distortion filter) counts for the entry that starts
        last before it.
    """

    line: object
    excess: float
    clipped: int
    nonfinite: int
    peak: float | None
    entries: tuple[Entry, ...]

    def __str__(self) -> str:
        what = []
        if self.clipped:
            what.append(f"{self.clipped} values beyond full scale")
        if self.nonfinite:
            what.append(f"{self.nonfinite} NaN or infinite values")
        if self.peak is not None and not self.clipped and self.excess > 0:
            what.append(f"a true peak of {self.peak:.4g} between the samples")
        excess = f", up to {self.excess:.4g} of full scale over it" if self.excess > 0 else ""
        where = "; ".join(map(str, self.entries)) or "no entry"
        return f"line {self.line!r}: {', '.join(what)}{excess}; from {where}"


def _spans(pds: list[Any], li: Mapping[str, Any]) -> list[tuple[int, int, Entry]]:
    """(first, end, entry) of each entry's samples, in list order."""
    st, srate, n = li.get("st", 0), li["srate"], li["N"]
    far = n + _GUARD + 1  # samples counted beyond it on either side would all be past the window

    def samples(t: float) -> int:
        return int(min(max(t * srate, -far), far))

    steps = sorted(max(samples(pd["pos"] - st), 0) for pd in pds if "edge_shape" in pd)
    spans = []
    for k, pd in enumerate(pds):
        a = samples(pd["pos"] - st)
        if "edge_shape" in pd:
            lo = max(a, 0)
            hi = next((s for s in steps if s > lo), n)
            spans.append((lo, hi, Entry(k, "level step", pd["edge_shape"], pd["pos"])))
        else:
            b = samples(pd["width"] + pd["plateau"])
            lo, hi = min(max(a - _GUARD, 0), n), max(min(a + b + _GUARD, n), 0)
            spans.append((lo, hi, Entry(k, "pulse", pd.get("shape"), pd["pos"])))
    return spans


def _entries(pds: list[Any], li: Mapping[str, Any], where: np.ndarray) -> tuple[Entry, ...]:
    """The entries whose spans hold the sample indices ``where`` (sorted)."""
    spans = _spans(pds, li)
    found: set[int] = set()
    held = np.zeros(where.size, dtype=bool)
    for k, (lo, hi, _) in enumerate(spans):
        i, j = np.searchsorted(where, [lo, hi])
        if j > i:
            found.add(k)
            held[i:j] = True
    # A sample in no span counts for the entry that starts last before it.
    order = sorted(range(len(spans)), key=lambda k: spans[k][0])
    starts = np.array([spans[k][0] for k in order], dtype=np.int64)
    last = np.searchsorted(starts, where[~held], side="right") - 1
    rest = bool((last < 0).any())
    found.update(order[i] for i in np.unique(last[last >= 0]))
    entries = [spans[k][2] for k in sorted(found)]
    return ((Entry(None, "resting level"),) if rest else ()) + tuple(entries)


def _line_clip(name: object, pds: list[Any], li: Mapping[str, Any], w: np.ndarray, full_scale: float,
               oversample: int | None) -> LineClip | None:
    """How the samples ``w`` of a line exceed full scale, or None when they fit."""
    values = w.view(np.float64).reshape(w.shape[0], -1) if w.dtype.kind == "c" else w.reshape(w.shape[0], 1)
    finite = np.isfinite(values)
    over = finite & (np.abs(values) > full_scale * _ROUNDING)
    bad = over.any(axis=1) | ~finite.all(axis=1)  # the samples to trace to their entries
    worst = float(np.abs(values[over]).max(initial=0.0))
    peak = None
    if oversample is not None and finite.all():
        smooth = _interval_peaks(w, oversample)
        peak = float(smooth.max(initial=0.0))
        bad |= smooth > full_scale * (1 + 1e-12)  # the filter's rounding is no excess
        worst = max(worst, peak)
    if not bad.any():
        return None
    return LineClip(line=name, excess=max(worst / full_scale - 1.0, 0.0), clipped=int(over.sum()),
                    nonfinite=int((~finite).sum()), peak=peak, entries=_entries(pds, li, np.flatnonzero(bad)))


def clip_report(lines: Mapping[Any, Iterable[dict]], li: Mapping, *, full_scale: float = 1.0,
                true_peak: bool = False, oversample: int = 8) -> dict[Any, LineClip]:
    """
    Sample lines and say which entries drive each line beyond full scale.

    Parameters
    ----------
    lines : dict of line name -> list of dict
        The pulse lists per line, as ``circuit.collect_pdc`` returns them.
    li : dict
        One sampling record for all lines, or one per line, as for
        ``wavespec_handling.sample_lines``.
    full_scale : float
        The magnitude each of I and Q may reach.
    true_peak : bool
        Also check the band-limited signal between the samples (see
        ``true_peak``), ``oversample`` points per sample interval.

    Returns
    -------
    dict of line name -> LineClip
        Only the lines that exceed full scale or hold NaN or infinite
        samples; empty when every line fits.
    """
    full_scale = _real(full_scale, "full_scale", positive=True)
    oversample = _integer(oversample, "oversample", 1)
    if not isinstance(true_peak, (bool, np.bool_)):
        raise TypeError(f"true_peak must be a bool, not {type(true_peak).__name__}")
    sampled, lists, record = _sample(lines, li)
    report = {}
    for name, (_, w, _) in sampled.items():
        found = _line_clip(name, lists[name], record(name), w, full_scale, oversample if true_peak else None)
        if found is not None:
            report[name] = found
    return report


def _sample(lines: object, li: Mapping) -> tuple[dict[Any, Any], dict[Any, list[Any]], Callable[[object], Any]]:
    """Sample every line; also each line's entries as a list and its record."""
    from halvane import wavespec_handling

    if not isinstance(lines, Mapping):
        raise TypeError(f"lines must be a mapping of line name -> pulse list, not {type(lines).__name__}")
    lists = {name: list(pds) for name, pds in lines.items()}
    return wavespec_handling.sample_lines(lists, li), lists, _line_records(li, lists).__getitem__


# ---- lengths, words, files -----------------------------------------------------


def fit_length(w: object, *, quantum: int = 16, min_length: int = 32, pad: str = "rest") -> np.ndarray:
    """
    Pad samples or codes at the end to a length the instrument accepts.

    Parameters
    ----------
    w : array_like
        Samples or codes along the first axis (codes of complex samples
        have a last axis of 2).
    quantum : int
        The length becomes a multiple of it (at least 1).
    min_length : int
        ... and at least this (at least 0).
    pad : {'rest', 'zeros'}
        Pad with the line's resting level (its last sample, or zeros when it
        has none) or with zeros.

    Returns
    -------
    numpy.ndarray
        A view of ``w`` when nothing is to be added, else a new array.
    """
    quantum = _integer(quantum, "quantum", 1)
    min_length = _integer(min_length, "min_length", 0)
    pad = _choice(pad, "pad", ("rest", "zeros"))
    a = _numeric(w)
    if a.ndim == 0:
        raise ValueError("w must have a sample axis, not be a scalar")
    n = a.shape[0]
    length = -(-max(n, min_length) // quantum) * quantum
    if length == n:
        return a[...]
    out = np.zeros((length,) + a.shape[1:], dtype=a.dtype)
    out[:n] = a
    if pad == "rest" and n:
        out[n:] = a[-1]
    return out


def interleave(codes: object, markers: object = None, marker_bits: int = 2) -> np.ndarray:
    """
    Pack codes into the sample words of an instrument: I, Q, I, Q, ...

    Parameters
    ----------
    codes : array_like of int
        Codes along the first axis, (I, Q) pairs on a last axis of 2 or one
        channel.
    markers : array_like of int, optional
        Marker bits for the low bits of each word: one value per word (the
        shape of ``codes``) or, for (I, Q) pairs, one per sample, given to
        both words. Each value is below ``2**marker_bits``.
    marker_bits : int
        How many low bits the markers take; the codes move up by as many
        bits and must still fit their type.

    Returns
    -------
    numpy.ndarray
        The words in the order the instrument reads them, of the codes' type.
    """
    c = _numeric(codes, "codes")
    if c.dtype.kind not in "iu":
        raise TypeError(f"codes must be an array of integers, not of dtype {c.dtype}")
    if markers is None:
        return np.ascontiguousarray(c).reshape(-1)
    width = c.dtype.itemsize * 8
    marker_bits = _integer(marker_bits, "marker_bits", 1, width - 2)
    m = _numeric(markers, "markers")
    if m.dtype.kind not in "biu":
        raise TypeError(f"markers must be an array of integers or bools, not of dtype {m.dtype}")
    if m.shape == c.shape[:-1] and c.ndim >= 1 and c.shape[-1] == 2:
        m = m[..., None]
    if m.shape != c.shape and m.shape[:-1] + (2,) != c.shape:
        raise ValueError(f"markers must have the shape of codes {c.shape} or one per sample, not {m.shape}")
    if m.size and (m.min() < 0 or m.max() >= 2 ** marker_bits):
        raise ValueError(f"markers must be from 0 to {2 ** marker_bits - 1} for marker_bits={marker_bits}")
    signed = c.dtype.kind == "i"
    room = width - marker_bits - (1 if signed else 0)
    low, high = (-(2 ** room), 2 ** room - 1) if signed else (0, 2 ** room - 1)
    if c.size and (c.min() < low or c.max() > high):
        raise ValueError(f"codes must fit {width - marker_bits} bits to leave marker_bits={marker_bits} in "
                         f"{width}-bit words; quantize with fewer bits")
    words = (c.astype(np.int64) << marker_bits) | m.astype(np.int64)
    return np.ascontiguousarray(words.astype(c.dtype)).reshape(-1)


def _columns(a: np.ndarray) -> tuple[np.ndarray, list[str]]:
    """The array as a table of one column per channel, with the channels' names."""
    if a.dtype.kind == "c":
        a = np.stack([a.real, a.imag], axis=-1)
    if a.ndim == 1:
        return a[:, None], ["value"]
    table = a.reshape(a.shape[0], math.prod(a.shape[1:]))  # not -1, which no samples cannot resolve
    names = ["I", "Q"] if table.shape[1] == 2 else [f"channel {i}" for i in range(table.shape[1])]
    return table, names


def _staged(path: str, fill: Callable[[IO[bytes]], object]) -> str:
    """A complete temporary file in the folder of ``path``, made by ``fill``; its name."""
    folder, name = os.path.split(os.path.abspath(path))
    if os.path.isdir(path):  # refused before anything is written, not when renamed
        raise IsADirectoryError(errno.EISDIR, "a folder is where the file goes", path)
    if not os.path.isdir(folder):  # named as such, not by the temporary file's name
        raise FileNotFoundError(errno.ENOENT, "no such folder for the file", folder)
    while True:
        tmp = os.path.join(folder, f".{name}.{secrets.token_hex(4)}.tmp")
        try:  # created as open() creates files, so that the umask sets its mode
            fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0), 0o666)
            break
        except FileExistsError:
            continue
    try:
        with os.fdopen(fd, "wb") as f:
            fill(f)
            f.flush()
            os.fsync(f.fileno())
    except BaseException:
        os.unlink(tmp)
        raise
    return tmp


def _commit(staged: list[tuple[str, str]]) -> None:
    """Rename every (temporary, path) over its path; if one cannot be, remove the temporaries left."""
    try:
        for tmp, path in staged:
            os.replace(tmp, path)
    except BaseException:
        for tmp, _ in staged:
            if os.path.exists(tmp):
                os.unlink(tmp)
        raise


def _atomic(path: str, fill: Callable[[IO[bytes]], object]) -> None:
    """Write ``path`` through a temporary file in its folder, renamed over it when complete."""
    _commit([(_staged(path, fill), path)])


def _format_of(path: str, format: str | None) -> str:
    if format is None:
        suffix = os.path.splitext(path)[1].lower().lstrip(".")
        if suffix not in _FORMATS:
            raise ValueError(f"path must end in .npy, .csv or .wav (or give format=), not {path!r}")
        return suffix
    return _choice(format, "format", _FORMATS)


def _wav_frames(a: np.ndarray, rate: float) -> tuple[int, int, bytes]:
    """(channels, bytes per code, little-endian frames) of codes for a .wav file."""
    if a.dtype.kind not in "iu":
        raise TypeError(f".wav holds integer codes, not samples of dtype {a.dtype}: quantize them first")
    if (a.dtype.itemsize == 1) != (a.dtype.kind == "u"):
        raise ValueError(f".wav holds 8-bit codes unsigned and wider codes signed, not {a.dtype}: "
                         "quantize with coding='offset' for 8 bits, 'twos' for more")
    table, names = _columns(a)
    if rate != int(rate) or rate * len(names) * a.dtype.itemsize >= 2 ** 32:
        raise ValueError(f"rate must be a whole number of samples per second, and bytes per second below "
                         f"2**32, for .wav, not {rate!r}")
    return len(names), a.dtype.itemsize, np.ascontiguousarray(table, dtype=a.dtype.newbyteorder("<")).tobytes()


def write(path: str | os.PathLike[str], data: object, *, rate: float, format: str | None = None) -> None:
    """
    Write codes or samples to a file an instrument's loader can read.

    The file is written under a temporary name in the same folder and
    renamed when complete, so a crash never leaves half a waveform under
    ``path``; nothing is written for a call that raises.

    Parameters
    ----------
    path : str or path-like
        ``.npy``, ``.csv`` or ``.wav``, chosen by the suffix unless ``format`` is given.
    data : array_like of numbers
        Codes, or samples (complex ones as I and Q), along the first axis.
    rate : float
        Samples per second, written into the header of ``.csv`` and ``.wav``.
    format : {'npy', 'csv', 'wav'}, optional

    Notes
    -----
    ``.npy`` holds the array as it is. ``.csv`` has one column per channel
    (``I`` and ``Q`` for complex samples or (I, Q) codes) and a header
    ``# rate <rate> Hz`` and ``# <names>``; ``numpy.loadtxt(path,
    delimiter=',')`` reads it. ``.wav`` is PCM of the codes' width (8-bit
    codes unsigned, wider ones signed), I and Q as two channels, and
    ``rate`` as its sample rate; it takes integer codes only.
    """
    _atomic(*_filler(path, data, rate, format))


def _filler(path: str | os.PathLike[str], data: object, rate: object,
            format: str | None) -> tuple[str, Callable[[IO[bytes]], object]]:
    """``write``'s arguments checked: the path and what fills its file."""
    path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError(f"path must be a str or path-like, not {type(path).__name__}")
    fmt = _format_of(path, format)
    rate = _real(rate, "rate", positive=True)
    a = _numeric(data, "data")
    if a.ndim == 0:
        raise ValueError("data must have a sample axis, not be a scalar")
    if fmt == "npy":
        return path, lambda f: np.save(f, a, allow_pickle=False)
    if fmt == "csv":
        table, names = _columns(a)
        number = "%d" if a.dtype.kind in "biu" else "%.17g"

        def csv(f: IO[bytes]) -> None:
            np.savetxt(f, table, fmt=number, delimiter=",", header=f"rate {rate!r} Hz\n{','.join(names)}")

        return path, csv
    channels, width, frames = _wav_frames(a, rate)

    def wav(f: IO[bytes]) -> None:
        with wave.open(f, "wb") as out:
            out.setnchannels(channels)
            out.setsampwidth(width)
            out.setframerate(int(rate))
            out.writeframes(frames)

    return path, wav


# ---- instruments -----------------------------------------------------------------


@dataclass(frozen=True)
class InstrumentProfile:
    """What an instrument accepts, as data: no driver, no connection.

    Attributes
    ----------
    name : str
    bits : int
        Bits per code, 2 to 32.
    full_scale : float
        The sample magnitude of the largest code.
    coding : {'twos', 'offset'}
    quantum : int
        Waveform lengths are multiples of it.
    min_length : int
        The shortest waveform.
    max_rate : float
        The highest sample rate, samples per second.
    """

    name: str
    bits: int = 16
    full_scale: float = 1.0
    coding: str = "twos"
    quantum: int = 16
    min_length: int = 32
    max_rate: float = 2.5e9

    def __post_init__(self) -> None:
        if not isinstance(self.name, str):
            raise TypeError(f"name must be a str, not {type(self.name).__name__}")
        # Kept as plain int and float, so that the manifest's JSON holds them (numpy's do not serialise).
        plain = {"bits": _integer(self.bits, "bits", 2, 32),
                 "full_scale": _real(self.full_scale, "full_scale", positive=True),
                 "coding": _choice(self.coding, "coding", _CODINGS),
                 "quantum": _integer(self.quantum, "quantum", 1),
                 "min_length": _integer(self.min_length, "min_length", 0),
                 "max_rate": _real(self.max_rate, "max_rate", positive=True)}
        for field, value in plain.items():
            object.__setattr__(self, field, value)


#: A generic 16-bit converter with signed codes.
GENERIC_16 = InstrumentProfile("generic 16-bit signed", bits=16, coding="twos", quantum=16, min_length=32,
                               max_rate=2.5e9)
#: A generic 14-bit converter with offset-binary codes.
GENERIC_14_OFFSET = InstrumentProfile("generic 14-bit offset binary", bits=14, coding="offset", quantum=32,
                                      min_length=64, max_rate=2.5e9)


def _file_name(name: object, fmt: str) -> str:
    text = str(name)
    if not text or text in (".", "..") or "/" in text or "\\" in text or "\0" in text:
        raise ValueError(f"line name {name!r} cannot name a file: give lines plain names")
    return f"{text}.{fmt}"


def export_lines(lines: Mapping[Any, Iterable[dict]], li: Mapping, profile: InstrumentProfile,
                 folder: str | os.PathLike[str], *, clip: str = "refuse", format: str = "npy") -> dict[str, Any]:
    """
    Sample lines and write one file of codes per line, with a JSON manifest.

    Every line is sampled (``wavespec_handling.sample_lines``), checked,
    quantized under ``profile``, padded with its resting level to a length
    the instrument accepts, and written atomically as ``<line>.<format>``
    in ``folder`` (made if missing), then ``manifest.json``. Nothing is
    written when the call raises for any line.

    Parameters
    ----------
    lines : dict of line name -> list of dict
        The pulse lists per line, as ``circuit.collect_pdc`` returns them.
    li : dict
        One sampling record for all lines, or one per line.
    profile : InstrumentProfile
    folder : str or path-like
    clip : {'refuse', 'saturate'}
        A line beyond full scale raises ``ValueError`` with its clip report,
        or is saturated and its report kept in the manifest. NaN or infinite
        samples are always refused.
    format : {'npy', 'csv', 'wav'}

    Returns
    -------
    dict
        The manifest: the package and its version, the profile, and per
        line its file, rate, length (after padding), samples (before) and
        quantisation report.
    """
    from halvane import __version__

    if not isinstance(profile, InstrumentProfile):
        raise TypeError(f"profile must be an InstrumentProfile, not {type(profile).__name__}")
    clip = _choice(clip, "clip", ("refuse", "saturate"))
    fmt = _choice(format, "format", _FORMATS)
    folder = os.fspath(folder)
    sampled, lists, record = _sample(lines, li)
    files, entries, problems = [], [], []
    named: dict[str, object] = {}  # file -> the line written to it
    for name, (_, w, _) in sampled.items():
        try:
            rec = record(name)
            rate = float(rec["srate"])
            if rate > profile.max_rate:
                raise ValueError(f"line {name!r} is sampled at {rate:g} samples/s, above the profile's "
                                 f"max_rate {profile.max_rate:g}")
            codes, report = quantize(w, bits=profile.bits, full_scale=profile.full_scale, coding=profile.coding)
            if any(report.nonfinite) or (clip == "refuse" and not report.ok):
                found = _line_clip(name, lists[name], rec, w, profile.full_scale, None)
                problems.append(str(found))
            codes = fit_length(codes, quantum=profile.quantum, min_length=profile.min_length, pad="rest")
            file = _file_name(name, fmt)
            if file in named:
                raise ValueError(f"lines {named[file]!r} and {name!r} would both be written to {file}: "
                                 "give lines names that differ as text")
            named[file] = name
            if fmt == "wav":
                _wav_frames(codes, rate)  # refused now rather than after other files are written
            files.append((file, codes, rate))
            entries.append({"line": name if isinstance(name, (str, int, float)) else str(name), "file": file,
                            "rate": rate, "length": len(codes), "samples": len(w),
                            "clipping": report.as_dict()})
        except Exception as e:
            e.add_note(f"while exporting line {name!r}")
            raise
    if problems:
        raise ValueError("lines beyond full scale (pass clip='saturate' to write them saturated) or with NaN "
                         "samples:\n" + "\n".join(problems))
    manifest = {"package": "halvane", "version": __version__, "profile": dataclasses.asdict(profile),
                "lines": entries}
    text = json.dumps(manifest, indent=2) + "\n"  # before any file, so that nothing is written if it fails
    os.makedirs(folder, exist_ok=True)
    # Every file is complete under a temporary name before any is renamed, so
    # that a file that cannot be written leaves none of the others.
    staged: list[tuple[str, str]] = []
    try:
        for file, codes, rate in files:
            path = os.path.join(folder, file)
            staged.append((_staged(*_filler(path, codes, rate, fmt)), path))
        path = os.path.join(folder, "manifest.json")
        staged.append((_staged(path, lambda f: f.write(text.encode())), path))
    except BaseException:
        for tmp, _ in staged:
            os.unlink(tmp)
        raise
    _commit(staged)
    return manifest
