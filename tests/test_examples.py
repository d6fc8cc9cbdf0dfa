"""The examples run, say what they found, and save their figures where told."""

import contextlib
import io
import json
import math
import pathlib
import runpy
import subprocess
import sys

import numpy as np
import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
NO_MATPLOTLIB = "import sys, runpy; sys.modules['matplotlib'] = None; sys.argv = {argv!r}; runpy.run_path({path!r}, run_name='__main__')"


def run_without_matplotlib(name, *args):
    path = str(EXAMPLES / name)
    code = NO_MATPLOTLIB.format(argv=[path, *args], path=path)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout


def example(name):
    return runpy.run_path(str(EXAMPLES / name), run_name="example")


def test_quickstart_prints_the_table_and_saves_its_picture(tmp_path):
    pytest.importorskip("matplotlib")
    png = tmp_path / "q.png"
    out = subprocess.run([sys.executable, str(EXAMPLES / "quickstart.py"), "--png", str(png)],
                         capture_output=True, text=True, check=True).stdout
    assert "<Circuit: 7 instructions on qubits 0, 1, scheduled 0 .. 540 ns>" in out
    assert "2  CZ(0,1,c__amp=0.23)  0,1         40.0    60.0   100.0  c01_z, q0_xy, q1_xy" in out
    assert out.rstrip().endswith(f"saved {png}") and png.stat().st_size > 10_000


def test_quickstart_runs_twice_in_one_namespace(tmp_path, monkeypatch):
    pytest.importorskip("matplotlib").use("Agg")
    code = compile((EXAMPLES / "quickstart.py").read_text(), "quickstart.py", "exec")
    monkeypatch.setattr(sys, "argv", ["quickstart.py", "--png", str(tmp_path / "q.png")])
    namespace = {"__name__": "__main__"}
    outputs = []
    for _ in range(2):  # as a notebook's %run -i does
        buffer = io.StringIO()
        with contextlib.redirect_stdout(buffer):
            exec(code, namespace)
        outputs.append(buffer.getvalue())
    assert outputs[0] == outputs[1] and "schedule (ASAP)" in outputs[0]
    # The gate constructors outlive the run: no sample array took a gate's name.
    assert str(namespace["gate"]["X"](0)) == "X(0)"
    assert not any(hasattr(namespace.get(name), "shape") for name in namespace["rules"])
    import matplotlib.pyplot as plt

    plt.close("all")


def test_quickstart_without_matplotlib_says_so_in_one_line(tmp_path):
    png = tmp_path / "q.png"
    out = run_without_matplotlib("quickstart.py", "--png", str(png))
    assert out.splitlines()[-1] == f"matplotlib is not installed: {png} skipped (pip install 'halvane[plot]')"
    assert "start/ns" in out and not png.exists()


def test_flux_predistortion_makes_the_line_settle_at_once(tmp_path):
    pytest.importorskip("matplotlib").use("Agg")
    png = tmp_path / "flux.png"
    with contextlib.redirect_stdout(io.StringIO()):
        errors = example("flux_predistortion.py")["main"](["--points", "1200", "--png", str(png)])
    # The raw steps overshoot by about B of the slow stage times the step; the
    # pre-distorted ones stay within the discretisation of the stages.
    assert 5e-3 < errors["raw"] < 3e-2
    assert errors["pre-distorted"] < 2e-4
    assert png.stat().st_size > 10_000
    import matplotlib.pyplot as plt

    plt.close("all")


def test_flux_predistortion_without_matplotlib(tmp_path):
    out = run_without_matplotlib("flux_predistortion.py", "--points", "600", "--png", str(tmp_path / "f.png"))
    assert "pre-distorted  line response strays" in out and out.splitlines()[-1].startswith("matplotlib is not")


def test_drag_sweep_is_best_at_the_prediction(tmp_path):
    pytest.importorskip("qutip")
    pytest.importorskip("matplotlib").use("Agg")
    png = tmp_path / "drag.png"
    with contextlib.redirect_stdout(io.StringIO()):
        result = example("drag_on_a_transmon.py")["main"](["--points", "5", "--png", str(png)])
    # drag_scale at -1, 0, 1, 2 and 3 times -1/(2α)
    assert result["drag_scale"][2] == pytest.approx(result["prediction"])
    assert result["prediction"] == pytest.approx(1 / (2 * 2 * math.pi * 220e6))
    err, leak = result["gate_error"], result["leakage"]
    assert err.argmin() == 2 and err[2] < 1e-3 < err[1]
    assert leak[2] < leak[1] < leak[0]
    assert png.stat().st_size > 10_000
    import matplotlib.pyplot as plt

    plt.close("all")


def test_drag_sweep_on_a_gaussian_finds_the_prediction_between_grid_points(tmp_path):
    pytest.importorskip("qutip")
    pytest.importorskip("matplotlib").use("Agg")
    with contextlib.redirect_stdout(io.StringIO()) as out:
        result = example("drag_on_a_transmon.py")["main"](
            ["--shape", "gauss", "--points", "6", "--png", str(tmp_path / "drag.png")])
    # drag_scale at -1, -0.2, 0.6, 1.4, 2.2 and 3 times -1/(2α): none within 3% of it
    prediction = result["prediction"]
    assert np.abs(result["drag_scale"] / prediction - 1).min() > 0.3
    assert abs(result["best"] / prediction - 1) < 0.03
    assert "20 ns Gaussian π pulse" in out.getvalue()
    import matplotlib.pyplot as plt

    plt.close("all")


def test_virtual_z_follows_the_cos2_law(tmp_path):
    pytest.importorskip("matplotlib").use("Agg")
    png = tmp_path / "vz.png"
    with contextlib.redirect_stdout(io.StringIO()) as out:
        result = example("virtual_z.py")["main"](["--points", "7", "--png", str(png)])
    assert result["deviation"] < 1e-9 and len(result["p1"]) == 7
    assert result["p1"].min() < 1e-9 and result["p1"].max() > 1 - 1e-9   # the sweep spans the law
    assert f"largest deviation from cos²(θ/2): {result['deviation']:.1e}" in out.getvalue()
    assert png.stat().st_size > 10_000
    import matplotlib.pyplot as plt

    plt.close("all")


def test_virtual_z_without_matplotlib(tmp_path):
    out = run_without_matplotlib("virtual_z.py", "--points", "3", "--png", str(tmp_path / "v.png"))
    assert "largest deviation from cos²(θ/2)" in out and out.splitlines()[-1].startswith("matplotlib is not")


def test_to_instrument_exports_the_quickstart_lines(tmp_path):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        manifest = example("to_instrument.py")["main"](["--folder", str(tmp_path / "w")])
    text = out.getvalue()
    assert text.startswith("5 lines within full scale, also between the samples\n")
    assert json.loads(text.split("\n", 1)[1]) == manifest
    assert [line["line"] for line in manifest["lines"]] == ["q0_xy", "q1_xy", "c01_z", "q0_ro", "q1_ro"]
    assert all(line["clipping"]["ok"] and line["length"] % 16 == 0 for line in manifest["lines"])
    assert sorted(p.name for p in (tmp_path / "w").iterdir()) == sorted(
        [line["file"] for line in manifest["lines"]] + ["manifest.json"])
