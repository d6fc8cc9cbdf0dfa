"""The README's reference and the docstrings' examples stay true."""

import doctest
import pathlib
import re

import pytest

from halvane import check, circuit, wavespec, wavespec_handling as wh, waveintent
from halvane.records import PulseDescription, SamplingRecord

README = (pathlib.Path(__file__).resolve().parent.parent / "README.md").read_text()


def run_examples(obj, globs):
    """Run the examples of a docstring in `globs`, keeping their names; the number run."""
    test = doctest.DocTestParser().get_doctest(obj.__doc__, globs, obj.__name__, None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test, clear_globs=False)
    globs.update(test.globs)  # the test ran on a copy; later examples build on its names
    assert runner.failures == 0, obj.__name__
    return len(test.examples)


@pytest.mark.parametrize("entry", [wh.pdc2pulse, wavespec.WaveSpec, waveintent.WaveIntent.get_pd,
                                   circuit.instructification], ids=lambda f: f.__name__)
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
