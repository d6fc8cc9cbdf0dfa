"""examples/sweep.py: the same waveforms serially, on spawned processes and on Dask."""

import multiprocessing
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "examples"))
import sweep  # noqa: E402  (the example's folder is on the path for spawned workers too)

POINTS = sweep.points(50)
SERIAL = sweep.run_serial(POINTS)


def test_points_vary_the_waveforms():
    assert len(POINTS) == 50 and len(set(POINTS)) == 50
    assert len({tuple(d.values()) for d in SERIAL}) == 50
    assert set(SERIAL[0]) == {"q0_xy", "q1_xy", "c01_z", "q0_ro", "q1_ro"}


def test_processes_under_spawn_give_the_same_waveforms():
    assert sweep.run_processes(POINTS, 2, multiprocessing.get_context("spawn")) == SERIAL


def test_dask_local_cluster_of_two_processes_gives_the_same_waveforms():
    pytest.importorskip("dask.distributed")
    assert sweep.run_dask(POINTS, 2) == SERIAL
