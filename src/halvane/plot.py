"""Pictures of pulses: sampled lines, the pulse diagram of a circuit, its schedule table.

``plot_lines`` draws what ``pdc2pulse`` returned, one panel per line;
``plot_schedule`` draws where every pulse of a scheduled circuit sits, one row
per line; ``schedule_table`` (from ``halvane.schedule``) lists the gates with
their times. matplotlib is an optional dependency: ``pip install 'halvane[plot]'``.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Any

try:
    import matplotlib.pyplot as plt
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.patches import Rectangle
except ImportError as exc:  # pragma: no cover - exercised in a subprocess test
    raise ImportError("halvane.plot needs matplotlib: install the extra with pip install 'halvane[plot]'") from exc

import numpy as np

from halvane.schedule import ScheduleTable, plain, schedule_table, scheduled_instructions

__all__ = ["plot_lines", "plot_schedule", "schedule_table", "ScheduleTable", "decimate", "TIME_UNITS"]

#: Seconds per unit for the ``time_unit`` argument.
TIME_UNITS = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "µs": 1e-6, "ns": 1e-9, "ps": 1e-12}

_PANEL_HEIGHT = 1.8  # inches per line panel or schedule row group
_TRACES = (("I", "C0", "-", 0.9), ("Q", "C1", "-", 0.9))
_ENVELOPE = (("envelope re", "C0", "--", 0.6), ("envelope im", "C1", "--", 0.6))


def _scale(time_unit: str) -> float:
    try:
        return TIME_UNITS[time_unit]
    except KeyError:
        raise ValueError(f"unknown time_unit {time_unit!r}: use one of {', '.join(TIME_UNITS)}") from None


def decimate(y: np.ndarray, columns: int) -> tuple[np.ndarray, np.ndarray]:
    """Reduce ``y`` to its minimum and maximum per column of samples.

    The samples are cut into ``columns`` consecutive runs of equal length (the
    last may be shorter); each run gives the indices of its minimum and of its
    maximum, in sample order. Every sample thus lies between the kept extremes
    of its run, and a run's extreme samples are kept exactly, so a line drawn
    through the kept points covers the same pixels as one through all samples.

    Returns
    -------
    (indices, values)
        The kept sample indices (increasing, first and last sample included)
        and their values. ``y`` with no more than ``2 * columns`` samples comes
        back whole.
    """
    y = np.asarray(y)
    n = y.size
    if n <= 2 * columns:
        return np.arange(n), y
    run = -(-n // columns)
    padded = np.empty(run * columns, dtype=y.dtype)
    padded[:n] = y
    padded[n:] = y[-1]  # repeat the last sample; its index is clipped back below
    blocks = padded.reshape(columns, run)
    starts = np.arange(columns) * run
    lo = np.minimum(starts + blocks.argmin(axis=1), n - 1)
    hi = np.minimum(starts + blocks.argmax(axis=1), n - 1)
    idx = np.unique(np.concatenate(([0, n - 1], lo, hi)))
    return idx, y[idx]


_SAMPLE_FIRST = "pulse descriptions, not samples: sample them first with wavespec_handling.pdc2pulse(pds, record)"


def _holds_pulse_descriptions(value: Any) -> bool:
    """True for a list of pulse descriptions (a line not yet sampled)."""
    return isinstance(value, (list, tuple)) and len(value) > 0 and all(isinstance(v, Mapping) for v in value)


def _as_line_map(waves: Any) -> dict[str, tuple[Any, Any, Any]]:
    if isinstance(waves, Mapping):
        return dict(waves)
    if _holds_pulse_descriptions(waves):
        raise TypeError(f"waves holds {_SAMPLE_FIRST}")
    if isinstance(waves, tuple) and len(waves) == 3:
        return {"": waves}
    raise TypeError(f"waves must be an (X, W, S) tuple or a mapping from line name to such tuples, "
                    f"got {type(waves).__name__}")


def _axes_for(ax: Any, count: int, height: float) -> tuple[Any, list[Axes]]:
    if ax is None:
        # Fixed margins in inches: a layout engine would cost more than the drawing.
        fig_height = max(2.4, height * count)
        fig, axes = plt.subplots(count, 1, sharex=True, squeeze=False, figsize=(9, fig_height),
                                 gridspec_kw={"left": 0.1, "right": 0.98, "top": 1 - 0.35 / fig_height,
                                              "bottom": 0.55 / fig_height, "hspace": 0.45})
        return fig, list(axes[:, 0])
    axes_list = [ax] if isinstance(ax, Axes) else list(np.asarray(ax, dtype=object).ravel())
    if len(axes_list) != count:
        raise ValueError(f"{count} panels to draw but {len(axes_list)} axes given")
    return axes_list[0].figure, axes_list


def plot_lines(waves: Any, *, lines: str | Sequence[str] | None = None, ax: Any = None, time_unit: str = "ns",
               envelope: bool = True) -> Figure:
    """Plot sampled lines: I and Q of ``W`` and the envelope ``S``, one panel per line.

    Parameters
    ----------
    waves : (X, W, S) tuple or mapping of line name to such tuples
        What ``wavespec_handling.pdc2pulse`` returns, for one or several lines.
    lines : str or sequence of str, optional
        The line name or names to draw, in this order (default: all, in
        mapping order).
    ax : Axes or sequence of Axes, optional
        Where to draw, one Axes per line; by default a new figure.
    time_unit : str
        Unit of the time axis: 's', 'ms', 'us', 'ns' (default) or 'ps'.
    envelope : bool
        Also draw the real and imaginary part of ``S`` as thin dashed traces.

    Returns
    -------
    matplotlib.figure.Figure

    Long lines are reduced to the minimum and maximum of each pixel column of
    the panel (see ``decimate``), so a million samples draw as fast as a
    thousand and look the same.

    Examples
    --------
    >>> X, W, S = wavespec_handling.pdc2pulse(pds, record)    # doctest: +SKIP
    >>> plot_lines({"q0_xy": (X, W, S)}).savefig("q0.png")     # doctest: +SKIP
    """
    scale = _scale(time_unit)
    line_map = _as_line_map(waves)
    names = list(line_map) if lines is None else [lines] if isinstance(lines, str) else list(lines)
    for name in names:
        if name not in line_map:
            raise KeyError(f"no line {name!r}: the lines are {', '.join(map(repr, line_map))}")
        if _holds_pulse_descriptions(line_map[name]):
            raise TypeError(f"line {name!r} holds {_SAMPLE_FIRST}")
    if not names:
        raise ValueError("no lines to plot")
    fig, axes = _axes_for(ax, len(names), _PANEL_HEIGHT)
    for k, (name, panel) in enumerate(zip(names, axes)):
        try:
            X, W, S = (np.asarray(a) for a in line_map[name])
        except (TypeError, ValueError) as exc:
            raise TypeError(f"line {name!r}: expected an (X, W, S) tuple of arrays") from exc
        if not (X.ndim == W.ndim == S.ndim == 1 and X.size == W.size == S.size):
            raise ValueError(f"line {name!r}: X, W and S must be 1-d arrays of one length, "
                             f"got shapes {X.shape}, {W.shape}, {S.shape}")
        columns = max(int(panel.bbox.width), 100)
        traces = [(W.real, *_TRACES[0]), (W.imag, *_TRACES[1])]
        if envelope:
            traces += [(S.real, *_ENVELOPE[0]), (S.imag, *_ENVELOPE[1])]
        for y, label, color, style, width in traces:
            idx, values = decimate(y, columns)
            panel.plot(X[idx] / scale, values, style, color=color, lw=width, label=label)
        panel.set_title(name, loc="left", fontsize="small")
        panel.set_ylabel("amplitude (full scale)", fontsize="small")
        if k == 0:
            panel.legend(loc="upper right", fontsize="x-small", ncols=len(traces))
    axes[-1].set_xlabel(f"time ({time_unit})")
    return fig


def _line_rows(instructions: list[Any]) -> list[str]:
    """Line names in order of first appearance, as ``circuit.collect_pdc`` orders them."""
    rows: dict[str, None] = {}
    for ins in instructions:
        for line in ins.lts:
            rows.setdefault(line, None)
    return list(rows)


def plot_schedule(circ: Any, *, ax: Axes | None = None, time_unit: str = "ns") -> Figure:
    """Draw the pulse diagram of a scheduled circuit: one row per line, one box per pulse.

    Each pulse description is a box from its ``pos`` over ``width + plateau``,
    labelled with its instruction's printed form where the label fits;
    zero-length pulses (virtual Z) are ticks. Barriers ("B") are vertical
    lines across all rows; measurement pulses ("M") are shaded apart.

    Parameters
    ----------
    circ : Circuit
        A circuit after ``semi_apply`` and ``ASAP`` or ``ALAP``.
    ax : Axes, optional
        Where to draw; by default a new figure.
    time_unit : str
        Unit of the time axis: 's', 'ms', 'us', 'ns' (default) or 'ps'.

    Returns
    -------
    matplotlib.figure.Figure

    Raises
    ------
    ValueError
        For a circuit that has not been through rule application and scheduling.
    """
    scale = _scale(time_unit)
    instructions = scheduled_instructions(circ)
    rows = _line_rows(instructions)
    fig, (panel,) = _axes_for(ax, 1, 0.5 * max(len(rows), 1) + 1.2)
    row_of = {line: r for r, line in enumerate(rows)}
    boxes: list[tuple[Rectangle, str]] = []
    t_lo, t_hi = np.inf, -np.inf
    for ins in instructions:
        name, label = plain(ins.nm), str(ins)
        start = float(plain(ins.pos)) / scale
        t_lo, t_hi = min(t_lo, start), max(t_hi, start + float(plain(ins.dur)) / scale)
        if name == "B":
            panel.axvline(start, color="0.3", lw=1.0, ls=":")
        measure = name == "M"
        for line, tracks in ins.lts.items():
            y = row_of[line]
            for track in tracks:
                for pd in track:
                    x0 = float(plain(pd["pos"])) / scale
                    width = float(plain(pd.get("width", 0)) + plain(pd.get("plateau", 0))) / scale
                    if width <= 0:
                        panel.plot([x0, x0], [y - 0.35, y + 0.35], color="C2", lw=1.5)
                        continue
                    box = Rectangle((x0, y - 0.35), width, 0.7, facecolor="C3" if measure else "C0",
                                    alpha=0.35 if measure else 0.5, edgecolor="0.2", lw=0.6,
                                    hatch="//" if measure else None)
                    panel.add_patch(box)
                    boxes.append((box, label))
                    t_lo, t_hi = min(t_lo, x0), max(t_hi, x0 + width)
    if np.isfinite(t_lo) and np.isfinite(t_hi):
        # A circuit of barriers alone spans no time: show one unit around it.
        pad = 0.02 * (t_hi - t_lo) if t_hi > t_lo else 1.0
        panel.set_xlim(t_lo - pad, t_hi + pad)
    panel.set_ylim(max(len(rows), 1) - 0.5, -0.5)  # an empty band when no line plays
    panel.set_yticks(range(len(rows)), rows)
    panel.set_xlabel(f"time ({time_unit})")
    panel.set_ylabel("line")
    _label_boxes(fig, panel, boxes)
    return fig


def _label_boxes(fig: Figure, panel: Axes, boxes: list[tuple[Rectangle, str]]) -> None:
    """Write each box's label inside it when the text is narrower than the box."""
    char_px = 0.6 * 7 * fig.dpi / 72  # width of one character at 7 pt
    for box, label in boxes:
        x0, x1 = panel.transData.transform([(box.get_x(), 0), (box.get_x() + box.get_width(), 0)])[:, 0]
        if len(label) * char_px < abs(x1 - x0):
            panel.text(box.get_x() + box.get_width() / 2, box.get_y() + box.get_height() / 2, label,
                       ha="center", va="center", fontsize=7, clip_on=True)
