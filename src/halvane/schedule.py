"""Where every gate of a scheduled circuit sits: a table of starts and durations.

``schedule_table(circ)`` needs nothing beyond the standard library, so a
circuit can show it in a notebook (``Circuit._repr_html_``) whether or not
matplotlib is installed. Times in the rows are seconds; the text and HTML
renderings show nanoseconds.
"""

from __future__ import annotations

import html
import importlib.util
import numbers
from typing import Any

__all__ = ["ScheduleTable", "schedule_table", "scheduled_instructions", "plain", "circuit_html"]

COLUMNS = ("index", "gate", "qubits", "pos", "dur", "end", "lines")
_HEADERS = ("#", "gate", "qubits", "start/ns", "dur/ns", "end/ns", "lines")


def plain(value: Any) -> Any:
    """A numpy scalar as the plain Python number it holds; anything else unchanged."""
    if type(value).__module__ == "numpy" and hasattr(value, "item") and getattr(value, "ndim", None) == 0:
        return value.item()
    return value


def scheduled_instructions(circ: Any) -> list[Any]:
    """The instructions of ``circ``, checked to carry a start time and line tracks.

    Raises
    ------
    ValueError
        Naming the first instruction (``#k`` and its printed form) that was not
        through rule application (``semi_apply``) and scheduling (``ASAP``/``ALAP``).
    """
    try:
        instructions = list(circ.ins)
    except Exception as exc:
        raise ValueError(f"expected a Circuit with a list of instructions 'ins', got {type(circ).__name__}") from exc
    for k, ins in enumerate(instructions):
        if getattr(ins, "lts", None) is None or not hasattr(ins, "pos"):
            raise ValueError(
                f"the circuit has not been scheduled: instruction #{k} {_text(ins)} has no "
                f"{'line tracks' if getattr(ins, 'lts', None) is None else 'start time'}; "
                "run circuit.semi_apply and then circuit.ASAP or circuit.ALAP first")
    return instructions


def _text(obj: Any) -> str:
    try:
        return str(obj)
    except Exception:
        return f"<{type(obj).__name__}>"


def _ns(value: Any) -> str:
    value = plain(value)
    if isinstance(value, numbers.Real):
        return f"{float(value) * 1e9:.1f}"
    return _text(value)


class ScheduleTable:
    """The schedule of a circuit, one row per instruction in program order.

    Attributes
    ----------
    rows : list of dict
        Keys ``index`` (program position), ``gate`` (the printed instruction),
        ``qubits`` (tuple), ``pos``, ``dur`` and ``end`` (seconds) and ``lines``
        (the line names its pulses play on).

    ``str(table)`` is an aligned text table with times in ns; in a notebook the
    table shows as HTML.
    """

    def __init__(self, rows: list[dict[str, Any]]) -> None:
        self.rows = rows

    def _cells(self) -> list[tuple[str, ...]]:
        return [(str(r["index"]), r["gate"], ",".join(map(_text, r["qubits"])),
                 _ns(r["pos"]), _ns(r["dur"]), _ns(r["end"]), ", ".join(map(_text, r["lines"])))
                for r in self.rows]

    def __str__(self) -> str:
        cells = [_HEADERS, *self._cells()]
        widths = [max(len(row[c]) for row in cells) for c in range(len(_HEADERS))]
        # Numbers align right, names left.
        right = {0, 3, 4, 5}
        lines = ["  ".join(cell.rjust(w) if c in right else cell.ljust(w)
                           for c, (cell, w) in enumerate(zip(row, widths))).rstrip()
                 for row in cells]
        return "\n".join(lines)

    def __repr__(self) -> str:
        return f"<ScheduleTable: {len(self.rows)} rows>\n{self}"

    def to_pandas(self) -> Any:
        """The rows as a pandas DataFrame, one row per instruction (only where pandas is installed)."""
        import pandas  # type: ignore[import-untyped, import-not-found, unused-ignore]
        return pandas.DataFrame(self.rows, columns=list(COLUMNS))

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{html.escape(h)}</th>" for h in _HEADERS)
        body = "".join("<tr>" + "".join(f"<td>{html.escape(c)}</td>" for c in row) + "</tr>"
                       for row in self._cells())
        return f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>"


# Offered only where pandas can be imported: halvane does not depend on it.
# Defined in the class, so that the API reference (read from the source) has it.
if importlib.util.find_spec("pandas") is None:
    del ScheduleTable.to_pandas


def schedule_table(circ: Any) -> ScheduleTable:
    """The table of where each instruction of a scheduled circuit sits.

    Parameters
    ----------
    circ : Circuit
        A circuit after ``semi_apply`` and ``ASAP`` or ``ALAP``.

    Returns
    -------
    ScheduleTable
        One row per instruction, in program order.

    Raises
    ------
    ValueError
        When an instruction has no line tracks or no start time.

    Examples
    --------
    >>> print(schedule_table(circ))            # doctest: +SKIP
    #  gate     qubits  start/ns  dur/ns  end/ns  lines
    0  X(0)     0            0.0    20.0    20.0  q0_xy
    """
    rows = []
    for k, ins in enumerate(scheduled_instructions(circ)):
        pos, dur = plain(ins.pos), plain(ins.dur)
        try:
            end = plain(pos + dur)
        except Exception:
            end = None
        rows.append({"index": k, "gate": _text(ins), "qubits": tuple(plain(q) for q in ins.qubits),
                     "pos": pos, "dur": dur, "end": end, "lines": [_text(line) for line in ins.lts]})
    return ScheduleTable(rows)


def circuit_html(circ: Any) -> str | None:
    """The notebook view of a circuit: its repr over its schedule table, or None
    (the notebook then shows the repr) while it is not scheduled."""
    try:
        table = schedule_table(circ)
    except ValueError:
        return None
    return f"<p>{html.escape(repr(circ))}</p>{table._repr_html_()}"
