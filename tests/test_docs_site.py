"""The documentation site: its conventions hold, its API reference is complete."""

import doctest
import importlib
import inspect
import pathlib
import pkgutil
import re
import subprocess
import sys
import zlib

import pytest

import halvane

DOCS = pathlib.Path(__file__).resolve().parent.parent / "docs"


def test_conventions_snippets_hold_in_sequence():
    text = (DOCS / "conventions.md").read_text()
    snippets = re.findall(r"^```python\n(>>>.*?)^```", text, re.S | re.M)
    assert len(snippets) >= 5
    globs: dict = {}
    runner = doctest.DocTestRunner()
    for k, snippet in enumerate(snippets):
        test = doctest.DocTestParser().get_doctest(snippet, globs, f"conventions{k}", "conventions.md", 0)
        runner.run(test, clear_globs=False)
        globs.update(test.globs)
    assert runner.failures == 0


def public_callables():
    """halvane.<module>.<name>[.<method>] of every public module, function, class and method."""
    for info in pkgutil.iter_modules(halvane.__path__):
        if info.name.startswith("_"):
            continue
        module = importlib.import_module(f"halvane.{info.name}")
        names = getattr(module, "__all__", None) or [n for n in vars(module) if not n.startswith("_")]
        for name in names:
            if name.startswith("_"):
                continue
            obj = getattr(module, name)
            if getattr(obj, "__module__", None) != module.__name__ or not callable(obj):
                continue  # imported from elsewhere, or data
            yield f"{module.__name__}.{name}"
            if inspect.isclass(obj):
                for attr, member in vars(obj).items():
                    if not attr.startswith("_") and inspect.isroutine(member):
                        yield f"{module.__name__}.{name}.{attr}"


def inventory_names(path):
    """The object names of a Sphinx objects.inv (version 2: four header lines, then zlib)."""
    data = path.read_bytes()
    body = zlib.decompress(data.split(b"\n", 4)[4]).decode()
    return {line.split(" ", 1)[0] for line in body.splitlines()}


def test_every_public_callable_is_in_the_api_reference(tmp_path):
    pytest.importorskip("sphinx")
    pytest.importorskip("autoapi")
    pytest.importorskip("myst_nb")
    pytest.importorskip("matplotlib")  # halvane.plot is public
    build = subprocess.run([sys.executable, "-m", "sphinx", "-W", "-q", "-b", "html",
                            "-D", "nb_execution_mode=off", str(DOCS), str(tmp_path)],
                           capture_output=True, text=True)
    assert build.returncode == 0, build.stderr
    documented = inventory_names(tmp_path / "objects.inv")
    expected = set(public_callables())
    assert len(expected) > 100
    assert sorted(expected - documented) == []
