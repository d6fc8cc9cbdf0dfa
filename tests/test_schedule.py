"""schedule_table: rows, text and HTML renderings, unscheduled circuits."""

import importlib.util

import numpy as np
import pytest
from scheduled import QUBITS, RULES, example

from halvane import circuit as hc
from halvane.schedule import schedule_table


def test_rows_of_the_scheduling_example():
    rows = schedule_table(example()).rows
    assert [(r["index"], r["gate"], r["qubits"], r["lines"]) for r in rows] == [
        (0, "X(0)", (0,), ["q0_xy"]),
        (1, "CZ(0,1)", (0, 1), ["c01", "q0_xy", "q1_xy"]),
        (2, "Y(1)", (1,), ["q1_xy"]),
    ]
    assert [r["pos"] for r in rows] == pytest.approx([0, 20e-9, 60e-9], abs=1e-18)
    assert [r["dur"] for r in rows] == pytest.approx([20e-9, 40e-9, 20e-9], abs=1e-18)
    assert [r["end"] for r in rows] == pytest.approx([20e-9, 60e-9, 80e-9], abs=1e-18)


def test_text_table_is_aligned_in_ns():
    lines = str(schedule_table(example(measure=True))).splitlines()
    assert lines[0].split() == ["#", "gate", "qubits", "start/ns", "dur/ns", "end/ns", "lines"]
    assert lines[2].split() == ["1", "CZ(0,1)", "0,1", "20.0", "40.0", "60.0", "c01,", "q0_xy,", "q1_xy"]
    assert lines[4].split()[:6] == ["3", "B(0,1)", "0,1", "80.0", "0.0", "80.0"]
    # Right-aligned times end in one column.
    ends = {line.rindex(field) + len(field) for line in lines[1:] for field in [line.split()[5]]}
    assert len(ends) == 1


def test_html_table_escapes_and_has_a_row_per_instruction():
    circ = example(schedule=False)
    circ.ins[0].kwds["note"] = "<b>&"
    hc.semi_apply(circ, RULES, QUBITS)
    hc.ASAP(circ)
    page = schedule_table(circ)._repr_html_()
    assert page.startswith("<table>") and page.endswith("</table>")
    assert page.count("<tr>") == 1 + 3
    assert "X(0,note=&lt;b&gt;&amp;)" in page and "<b>" not in page


def test_numpy_scalars_become_plain_numbers():
    circ = example()
    hc.shift_circ(circ, np.float64(1e-9))
    row = schedule_table(circ).rows[1]
    assert type(row["pos"]) is float and type(row["end"]) is float
    assert row["pos"] == pytest.approx(21e-9)


@pytest.mark.parametrize("apply, missing", [(False, "line tracks"), (True, "start time")])
def test_unscheduled_circuit_is_refused(apply, missing):
    circ = example(schedule=False)
    if apply:
        hc.semi_apply(circ, RULES, QUBITS)
    with pytest.raises(ValueError, match=rf"not been scheduled: instruction #0 X\(0\) has no {missing}; "
                                         r"run circuit.semi_apply"):
        schedule_table(circ)


def test_a_non_circuit_is_refused():
    with pytest.raises(ValueError, match="expected a Circuit.*got int"):
        schedule_table(3)


@pytest.mark.skipif(importlib.util.find_spec("pandas") is not None, reason="pandas is installed")
def test_to_pandas_is_offered_only_with_pandas():
    assert not hasattr(schedule_table(example()), "to_pandas")


def test_to_pandas_rows():
    pytest.importorskip("pandas")
    frame = schedule_table(example()).to_pandas()
    assert list(frame.columns) == ["index", "gate", "qubits", "pos", "dur", "end", "lines"]
    assert list(frame["gate"]) == [row["gate"] for row in schedule_table(example()).rows]
