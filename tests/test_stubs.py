"""The shipped type stubs still describe the modules."""

import pathlib
import subprocess
import sys

import pytest

import halvane

# The stubs are nanobind's stubgen output, which changes between its releases:
# they are compared only with the version pinned in the "test" extra.
STUBGEN_VERSIONS = ((3, 1),)
try:
    import nanobind
except ImportError:
    nanobind = None

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "src" / "halvane"
PATTERNS = ROOT / "tools" / "stubs.patterns"
STUBS = sorted(p.stem for p in SRC.glob("*.pyi"))
BUILT = sorted(p.name.split(".")[0] for p in pathlib.Path(halvane.__file__).parent.glob("*.so"))


def test_every_module_has_a_stub():
    assert BUILT and BUILT == STUBS
    assert (SRC / "py.typed").exists()


@pytest.mark.skipif(nanobind is None, reason="nanobind is not installed: pip install '.[test]' to compare the stubs")
@pytest.mark.parametrize("module", STUBS)
def test_stub_matches_module(module, tmp_path):
    if tuple(map(int, nanobind.__version__.split(".")[:2])) not in STUBGEN_VERSIONS:
        pytest.skip(f"nanobind {nanobind.__version__} is outside the pinned range whose stubgen made the stubs")
    out = tmp_path / f"{module}.pyi"
    subprocess.run([sys.executable, "-m", "nanobind.stubgen", "-q", "-P", "-p", str(PATTERNS), "-m", f"halvane.{module}",
                    "-o", str(out)], check=True)
    assert out.read_text() == (SRC / f"{module}.pyi").read_text(), (
        f"src/halvane/{module}.pyi is stale: rebuild and run tools/stubs.sh")
