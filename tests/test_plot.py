"""halvane.plot, checked by what the figures contain: panels, traces, labels,
units, the decimation of long lines, and boxes at their scheduled times."""

import subprocess
import sys

import numpy as np
import pytest
from scheduled import QUBITS, RULES, example, gates

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

from halvane import circuit as hc  # noqa: E402
from halvane import plot  # noqa: E402
from halvane import wavespec_handling as wh  # noqa: E402

RECORD = {"N": 240, "srate": 2e9, "offset_global": 0.0}


@pytest.fixture(autouse=True)
def _close_figures():
    yield
    plt.close("all")


def sampled(circ):
    return {line: wh.pdc2pulse(pds, RECORD) for line, pds in hc.collect_pdc(circ).items()}


def test_import_without_matplotlib_names_the_extra():
    code = "import sys; sys.modules['matplotlib'] = None\nimport halvane.plot"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert run.returncode != 0
    assert "ImportError: halvane.plot needs matplotlib" in run.stderr and "halvane[plot]" in run.stderr


def test_schedule_table_needs_no_matplotlib():
    code = "import sys; sys.modules['matplotlib'] = None\nimport halvane.schedule; print('ok')"
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True).stdout == "ok\n"


@pytest.mark.parametrize("envelope, traces", [(True, ["I", "Q", "envelope re", "envelope im"]), (False, ["I", "Q"])])
def test_one_panel_per_line_with_its_traces(envelope, traces):
    waves = sampled(example())
    fig = plot.plot_lines(waves, envelope=envelope)
    axes = fig.axes
    assert [ax.get_title(loc="left") for ax in axes] == ["q0_xy", "c01", "q1_xy"]
    for ax in axes:
        assert [line.get_label() for line in ax.get_lines()] == traces
        assert ax.get_ylabel() == "amplitude (full scale)"
    assert axes[-1].get_xlabel() == "time (ns)"
    assert [ax.get_legend() is not None for ax in axes] == [True, False, False]
    X, W, S = waves["c01"]
    lines = axes[1].get_lines()
    np.testing.assert_array_equal(lines[0].get_xdata(), X / 1e-9)
    np.testing.assert_array_equal(lines[0].get_ydata(), W.real)
    np.testing.assert_array_equal(lines[1].get_ydata(), W.imag)
    if envelope:
        np.testing.assert_array_equal(lines[2].get_ydata(), S.real)
        np.testing.assert_array_equal(lines[3].get_ydata(), S.imag)
        assert lines[2].get_linestyle() == "--" and lines[2].get_linewidth() < lines[0].get_linewidth()


def test_a_level_step_is_drawn_as_a_step():
    step = {"edge_shape": "sine_edge", "pos": 50e-9, "width": 4e-9, "plateau": 0, "amp": 0.3}
    X, W, S = wh.pdc2pulse([step], RECORD)
    fig = plot.plot_lines((X, W, S))
    (ax,) = fig.axes
    x, y = ax.get_lines()[0].get_data()
    assert np.all(y[x < 50] == 0) and np.allclose(y[x >= 54], 0.3) and np.all(np.diff(y) >= 0)
    assert ax.get_title(loc="left") == ""


def test_lines_choose_and_order_panels_and_time_unit_scales():
    waves = sampled(example())
    fig = plot.plot_lines(waves, lines=["q1_xy", "q0_xy"], time_unit="us")
    assert [ax.get_title(loc="left") for ax in fig.axes] == ["q1_xy", "q0_xy"]
    np.testing.assert_allclose(fig.axes[0].get_lines()[0].get_xdata(), waves["q1_xy"][0] / 1e-6)
    assert fig.axes[-1].get_xlabel() == "time (us)"
    # One name alone is one panel, not a name per character.
    assert [ax.get_title(loc="left") for ax in plot.plot_lines(waves, lines="q1_xy").axes] == ["q1_xy"]


def test_given_axes_are_used():
    waves = sampled(example())
    fig, (a, b) = plt.subplots(2)
    assert plot.plot_lines(waves, lines=["c01", "q0_xy"], ax=[a, b]) is fig
    assert a.get_title(loc="left") == "c01" and len(b.get_lines()) == 4
    fig, grid = plt.subplots(3, 1, squeeze=False)  # an array of axes, as subplots gives it
    plot.plot_lines(waves, ax=grid)
    assert [ax.get_title(loc="left") for ax in grid[:, 0]] == ["q0_xy", "c01", "q1_xy"]


@pytest.mark.parametrize("call, error, message", [
    (lambda w: plot.plot_lines(w, lines=["q9"]), KeyError, "no line 'q9'"),
    (lambda w: plot.plot_lines(w, time_unit="min"), ValueError, "unknown time_unit 'min'"),
    (lambda w: plot.plot_lines(w, ax=plt.subplots(2)[1]), ValueError, "3 panels to draw but 2 axes given"),
    (lambda w: plot.plot_lines([1, 2]), TypeError, "waves must be an"),
    (lambda w: plot.plot_lines({}), ValueError, "no lines to plot"),
    (lambda w: plot.plot_lines({"a": (np.zeros(3), np.zeros(4), np.zeros(3))}), ValueError, "line 'a'.*one length"),
    # Pulse descriptions instead of their samples, for one line and for several.
    *[(lambda w, pdc=pdc: plot.plot_lines(pdc), TypeError, rf"{where}pulse descriptions, not samples: .*pdc2pulse")
      for pdc, where in [(hc.collect_pdc(example())["q0_xy"], ""),
                         (hc.collect_pdc(example()), "line 'q0_xy' holds "),
                         ({"c": hc.collect_pdc(example())["c01"]}, "line 'c' holds ")]],
])
def test_bad_arguments_say_what(call, error, message):
    with pytest.raises(error, match=message):
        call(sampled(example()))


def local_extrema(y):
    inner = y[1:-1]
    is_max = (inner > y[:-2]) & (inner >= y[2:])
    is_min = (inner < y[:-2]) & (inner <= y[2:])
    return np.flatnonzero(is_max | is_min) + 1


def test_a_million_samples_keep_every_local_extremum():
    n = 10**6
    t = np.arange(n)
    # A chirp and steps: 200-odd extrema, spread wider than a pixel column.
    y = np.sin(2 * np.pi * (30 * t / n) ** 2 / 30) + 0.5 * (t > n // 3) - 0.2 * (t > 2 * n // 3)
    X = t / 2e9
    fig = plot.plot_lines((X, y + 0j, y + 0j), envelope=False)
    line = fig.axes[0].get_lines()[0]
    kept_x, kept_y = line.get_xdata(), line.get_ydata()
    assert kept_x.size < 4000
    extrema = local_extrema(y)
    assert extrema.size > 50
    kept = dict(zip(np.rint(kept_x * 1e-9 * 2e9).astype(int), kept_y))  # back to sample indices
    for k in extrema:
        assert kept[k] == y[k]
    assert kept_x[0] == X[0] / 1e-9 and kept_x[-1] == X[-1] / 1e-9


@pytest.mark.parametrize("n, columns", [(10**6, 700), (1001, 10), (20, 10), (37, 5)])
def test_decimation_keeps_each_columns_minimum_and_maximum(n, columns):
    y = np.random.default_rng(n).standard_normal(n)
    idx, values = plot.decimate(y, columns)
    assert np.all(np.diff(idx) > 0) and idx[0] == 0 and idx[-1] == n - 1
    np.testing.assert_array_equal(values, y[idx])
    if n <= 2 * columns:
        assert idx.size == n
        return
    run = -(-n // columns)
    for start in range(0, n, run):
        block = y[start:start + run]
        mine = values[(idx >= start) & (idx < start + run)]
        assert mine.max() == block.max() and mine.min() == block.min()
    assert idx.size <= 2 * columns + 2


def boxes(ax):
    return [p for p in ax.patches if isinstance(p, Rectangle)]


def test_schedule_boxes_sit_at_the_scheduled_positions():
    circ = example(measure=True)
    fig = plot.plot_schedule(circ)
    (ax,) = fig.axes
    rows = [t.get_text() for t in ax.get_yticklabels()]
    assert rows == list(hc.collect_pdc(circ))
    expected = sorted((rows.index(line), pd["pos"] / 1e-9, (pd["width"] + pd["plateau"]) / 1e-9)
                      for line, pds in hc.collect_pdc(circ).items() for pd in pds
                      if pd["width"] + pd["plateau"] > 0)
    got = sorted((round(b.get_y() + b.get_height() / 2), b.get_x(), b.get_width()) for b in boxes(ax))
    assert len(got) == len(expected) == 4  # X, the coupler pulse, Y, the readout
    for (r1, x1, w1), (r2, x2, w2) in zip(got, expected):
        assert r1 == r2 and x1 == pytest.approx(x2) and w1 == pytest.approx(w2)
    assert ax.get_xlabel() == "time (ns)"
    labels = {t.get_text() for t in ax.texts}
    assert {"X(0)", "CZ(0,1)", "Y(1)", "M(0)"} <= labels


def test_schedule_marks_barriers_virtual_z_and_measurements():
    circ = example(measure=True)
    (ax,) = plot.plot_schedule(circ, time_unit="us").axes
    spans = [(tuple(line.get_xdata()), tuple(line.get_ydata())) for line in ax.get_lines()]
    barrier = circ.ins[3].pos / 1e-6
    assert [y for x, y in spans if x == pytest.approx((barrier, barrier))] == [(0, 1)]  # across all rows
    vz = 40e-9 / 1e-6  # the virtual Z of CZ on both drive lines, at the gate's centre
    assert sorted(y for x, y in spans if x == pytest.approx((vz, vz))) == [(-0.35, 0.35), (1.65, 2.35)]
    faces = {tuple(b.get_facecolor()) for b in boxes(ax)}
    readout = [b for b in boxes(ax) if b.get_x() == pytest.approx(circ.ins[4].pos / 1e-6)]
    assert len(faces) == 2 and len(readout) == 1 and readout[0].get_hatch() == "//"


def test_schedule_without_room_leaves_labels_out():
    fig, ax = plt.subplots(figsize=(1, 1))
    plot.plot_schedule(example(), ax=ax)
    assert len(ax.texts) == 0


def test_unscheduled_circuit_is_refused():
    with pytest.raises(ValueError, match="has not been scheduled"):
        plot.plot_schedule(example(schedule=False))


@pytest.mark.parametrize("names", [[], ["B"], ["B", "B"]], ids=["empty", "one barrier", "two barriers"])
def test_schedule_of_a_circuit_without_pulses_draws_quietly(names):
    g = gates()
    circ = hc.Circuit([g[n](0, 1) for n in names])
    hc.semi_apply(circ, RULES, QUBITS)
    hc.ASAP(circ)
    (ax,) = plot.plot_schedule(circ).axes  # warnings are errors here
    assert boxes(ax) == [] and len(ax.get_lines()) == len(names)
    if names:  # the barriers at 0 lie inside the drawn time range
        lo, hi = ax.get_xlim()
        assert lo < 0 < hi
