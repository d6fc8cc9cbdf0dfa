"""examples/sweep.py: the Sweep, serially and on a two-worker Dask cluster, equals compiling every point."""

import contextlib
import io
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import sweep  # noqa: E402  (the example's folder is on the path for the workers too)


def test_three_runs_agree_on_a_two_worker_cluster():
    pytest.importorskip("dask.distributed")
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        report = sweep.main(["--points", "12", "--workers", "2"])
    assert "3 amplitudes x 4 phases = 12 points" in out.getvalue()
    assert set(report) == {"compiled per point", "Sweep, serially", "Sweep.map, Dask (2 workers)"}
    for name in ("Sweep, serially", "Sweep.map, Dask (2 workers)"):
        assert report[name]["deviation"] < 1e-12


def test_the_points_change_the_gate_and_nothing_else():
    amps, phases = sweep.grid(6)
    assert len(amps) * len(phases) >= 6
    s = sweep.make_sweep(amps, phases)
    assert s.lines == [sweep.LINE] and s.shape == (len(amps), len(phases))
    lines = [sweep.gate_line(i, w) for i, w in s.points(0, 3)]
    assert len({line.tobytes() for line in lines}) == 3
