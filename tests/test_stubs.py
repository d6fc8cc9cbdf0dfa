"""The shipped type stubs still describe the modules."""

import pathlib
import subprocess
import sys

import pytest

import halvane

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "src" / "halvane"
PATTERNS = ROOT / "tools" / "stubs.patterns"
STUBS = sorted(p.stem for p in SRC.glob("*.pyi"))
BUILT = sorted(p.name.split(".")[0] for p in pathlib.Path(halvane.__file__).parent.glob("*.so"))


def test_every_module_has_a_stub():
    assert BUILT and BUILT == STUBS
    assert (SRC / "py.typed").exists()


@pytest.mark.parametrize("module", STUBS)
def test_stub_matches_module(module, tmp_path):
    out = tmp_path / f"{module}.pyi"
    subprocess.run([sys.executable, "-m", "nanobind.stubgen", "-q", "-P", "-p", str(PATTERNS), "-m", f"halvane.{module}",
                    "-o", str(out)], check=True)
    assert out.read_text() == (SRC / f"{module}.pyi").read_text(), (
        f"src/halvane/{module}.pyi is stale: rebuild and run tools/stubs.sh")
