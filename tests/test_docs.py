"""The README's reference and the docstrings' examples stay true."""

import contextlib
import doctest
import importlib.util
import io
import pathlib
import re
import runpy
import sys

import pytest

from halvane import check, circuit, wavespec, wavespec_handling as wh, waveintent
from halvane.records import PulseDescription, SamplingRecord

README_PATH = pathlib.Path(__file__).resolve().parent.parent / "README.md"
README = README_PATH.read_text()


def run_examples(obj, globs):
    """Run the examples of a docstring in `globs`, keeping their names; the number run."""
    test = doctest.DocTestParser().get_doctest(obj.__doc__, globs, obj.__name__, None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, clear_globs=False)
    globs.update(test.globs)  # the test ran on a copy; later examples build on its names
    assert runner.failures == 0, obj.__name__
    return len(test.examples)


@pytest.mark.parametrize("entry", [wh.pdc2pulse, wavespec.WaveSpec, waveintent.WaveIntent.get_pd,
                                   circuit.instructification, circuit.fold_vz], ids=lambda f: f.__name__)
def test_entry_point_examples_hold(entry):
    assert run_examples(entry, {}) >= 2


def test_circuit_examples_hold_in_sequence():
    globs: dict = {}
    for entry in (circuit.semi_apply, circuit.ASAP, circuit.collect_pdc):
        assert run_examples(entry, globs) >= 2


def table(title):
    """The first column's backticked names of the README table after `title`."""
    section = README.split(title, 1)[1].split("\n\n", 2)[1]
    return {name for row in section.splitlines()[2:] for name in re.findall(r"`(\w+)`", row.split("|")[1])}


def test_reference_tables_name_every_key():
    assert table("**Pulse description**") == set(PulseDescription.__annotations__) == check.PULSE_KEYS
    assert table("**Sampling record**") == set(SamplingRecord.__annotations__) == check.RECORD_KEYS


def test_calibration_table_matches_the_checker():
    rows = README.split("**Calibration keys each recipe reads**", 1)[1].split("\n\n", 2)[1].splitlines()[2:]
    documented = {}
    for row in rows:
        recipes, reads = row.split("|")[1:3]
        for recipe in re.findall(r"`(\w+)`", recipes):
            documented[recipe] = set(re.findall(r"cp\['(\w+)'\]", reads))
    assert documented == {name: {key for key, _ in keys} for name, keys in check.CALIBRATION_KEYS.items()}


def test_shape_names_in_the_readme_are_the_table_keys():
    paragraph = README.split("A pulse names its shape by a key of `shapeTable`:", 1)[1].split("\n\n", 1)[0]
    named = set(re.findall(r"`'(\w+)'`", paragraph))
    assert named == set(wh.shapeTable)


# ---- the README's snippets run as written -----------------------------------

QUICKSTART = "examples/quickstart.py"
SNIPPETS = re.findall(r"^```python\n(.*?)^```", README, re.S | re.M)


@pytest.fixture(scope="module")
def quickstart_names(tmp_path_factory):
    """The names a notebook has after `%run -i examples/quickstart.py`."""
    if importlib.util.find_spec("matplotlib"):
        import matplotlib

        matplotlib.use("Agg")
    path = README_PATH.parent / QUICKSTART
    argv, sys.argv = sys.argv, [str(path), "--png", str(tmp_path_factory.mktemp("qs") / "q.png")]
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            names = runpy.run_path(str(path), run_name="__main__")
    finally:
        sys.argv = argv
    return names


def test_the_readme_has_snippets_of_both_kinds():
    assert len(SNIPPETS) >= 6
    assert any(s.startswith(">>>") for s in SNIPPETS) and any(not s.startswith(">>>") for s in SNIPPETS)


@pytest.mark.parametrize("snippet", SNIPPETS, ids=[f"snippet{k}" for k in range(len(SNIPPETS))])
def test_readme_snippet_runs_as_written(snippet, request):
    # A snippet that says it continues the quickstart gets the quickstart's
    # names; any other must run on its own.
    if "import plot" in snippet:
        pytest.importorskip("matplotlib")
    first_line = snippet.splitlines()[0]
    globs = dict(request.getfixturevalue("quickstart_names")) if QUICKSTART in first_line else {}
    output = io.StringIO()
    with contextlib.redirect_stdout(output):
        if snippet.startswith(">>>"):
            runner = doctest.DocTestRunner()
            runner.run(doctest.DocTestParser().get_doctest(snippet, globs, "README", "README.md", 0))
        else:
            exec(compile(snippet, "README.md", "exec"), globs)
    assert not snippet.startswith(">>>") or runner.failures == 0, output.getvalue()
    if "matplotlib" in sys.modules:
        import matplotlib.pyplot as plt

        plt.close("all")
