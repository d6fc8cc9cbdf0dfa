"""Arrays are trusted by their memory, never by what they say of themselves.

An ndarray subclass may override __len__, dtype or (CPython 3.12+)
__buffer__; what halvane reads and writes is the array's own memory, checked
through numpy's own fields, and held until the last read or write. These
tests also run under the sanitizers (tools/sanitize.sh).
"""

import subprocess
import sys

import numpy as np
import pytest

from halvane import wavespec_handling as wh
from halvane.wavespec import WaveSpec

pytestmark = pytest.mark.sanitize

N = 4096
PDS = [dict(shape="cos", pos=100e-9, width=1e-6, plateau=0, amp=0.5, freq=5e8, phase=0.2, phase1=0)]
LI = dict(N=N, srate=2e9, offset_global=0.0)
buffer_protocol = pytest.mark.skipif(sys.version_info < (3, 12), reason="__buffer__ is honoured from CPython 3.12")


class LongLen(np.ndarray):
    """Claims N elements whatever its size."""

    def __len__(self):
        return N


class ComplexDtype(np.ndarray):
    """Claims to be complex128 whatever it holds."""

    @property
    def dtype(self):
        return np.dtype(np.complex128)


class OtherBuffer(np.ndarray):
    """Exports the memory of a temporary array of zeros, freed once released."""

    def __buffer__(self, flags):
        return memoryview(np.zeros(self.shape, np.asarray(self).dtype))


def into_sample_lines(buf):
    return wh.sample_lines({"q": PDS}, LI, out={"q": (buf, np.empty(N, complex))})["q"][1]


def into_wavespec(buf):
    return WaveSpec(PDS, 0, N / LI["srate"]).sample(LI["srate"], out=buf)


WRITERS = [into_sample_lines, into_wavespec]


@pytest.mark.parametrize("write", WRITERS)
@pytest.mark.parametrize("buf, exc, match", [
    (np.zeros(16, complex).view(LongLen), ValueError, "must have exactly 4096 samples .*, not 16"),
    (np.zeros(N).view(ComplexDtype), TypeError, "must be a complex128 numpy array, not an array of dtype float64"),
    (np.zeros(N, ">c16"), TypeError, "must be a complex128 numpy array, not an array of dtype >c16"),
], ids=["long_len", "complex_dtype", "big_endian"])
def test_out_is_checked_by_its_own_memory(write, buf, exc, match):
    before = np.asarray(buf).copy()
    with pytest.raises(exc, match=match):
        write(buf)
    np.testing.assert_array_equal(np.asarray(buf), before)


@buffer_protocol
@pytest.mark.parametrize("write", WRITERS)
def test_out_is_written_in_its_own_memory(write):
    buf = np.full(N, np.nan + 0j).view(OtherBuffer)
    assert write(buf) is buf
    np.testing.assert_array_equal(np.asarray(buf), wh.pdc2pulse(PDS, LI)[1])


X = np.linspace(0, 1e-6, N, endpoint=False)
PULSE = PDS[0]
READERS = {
    "carrier": lambda X: wh.carrier(X, 5e8, 0.1, 0),
    "shape": lambda X: wh.shapeTable["cos"](X, PULSE, {}),
    "sine_edge": lambda X: wh.shapeTable["sine_edge"](X, 5e-7, 1e-7),
    "grad": lambda Y: wh.grad(Y + 0j),
    "IIR_filtering": lambda Y: wh.IIR_filtering(0.9, 0.1, 0.5, (X, Y)),
    "fix": lambda Y: wh.fix(X, Y, [wh.cal_iir_coef([0.95, 0.05, 3e-7, 5e-10])], None),
}


@buffer_protocol
@pytest.mark.parametrize("read", READERS.values(), ids=READERS)
def test_inputs_are_read_from_their_own_memory(read):
    np.testing.assert_array_equal(read(X.copy().view(OtherBuffer)), read(X.copy()))


SECOND_IMPORT = """
import importlib, sys
import numpy as np
import halvane
from halvane import wavespec_handling as wh
importlib.import_module("halvane." + sys.argv[1])
wh.buffer_cache(3 << 20)
first = sys.modules.pop("halvane." + sys.argv[1])
try:
    importlib.import_module("halvane." + sys.argv[1])
except ImportError as e:
    print(type(e.__cause__).__name__, e.__cause__)
sys.modules["halvane." + sys.argv[1]] = first
assert wh.buffer_cache() == 3 << 20, wh.buffer_cache()
X, W, S = wh.pdc2pulse([dict(shape="cos", pos=0, width=1e-8, plateau=0, amp=1, freq=0, phase=0, phase1=0)],
                       dict(N=40, srate=2e9, offset_global=0))
assert abs(S).max() == 1.0
"""


@pytest.mark.parametrize("module", ["waveintent_enumeration", "wavespec_handling", "rule"])
def test_a_second_import_is_refused_and_the_first_module_works_on(module):
    done = subprocess.run([sys.executable, "-c", SECOND_IMPORT, module], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    name = "halvane." + module
    assert done.stdout == (f"ImportError {name} was initialised before in this process and cannot be initialised again; "
                           f"put the module loaded first back into sys.modules (sys.modules['{name}'] = {name}), "
                           "or restart the interpreter\n")
