"""halvane.io: JSON text of pulse descriptions and sampling records."""

import json
import math

import numpy as np
import pytest

from halvane import io
from halvane import wavespec_handling as wh

PULSE = {"shape": "hcos", "pos": np.float64(12e-9), "width": 8e-9, "plateau": np.int64(0), "amp": np.float64(0.5),
         "freq": 1.25e8, "phase": np.float64(0.1), "phase1": 0, "drag_scale": 0.2e-9,
         "drag_list": np.array([1e-10, -2e-10]), "amp_scale": np.complex128(0.5 - 0.25j)}
STEP = {"edge_shape": "sine_edge", "pos": 30e-9, "width": 4e-9, "plateau": 0, "amp": 0.1 + 0.2j}
LINES = {"q0_xy": [PULSE, dict(PULSE, pos=20e-9, shape="square")], "q0_z": [STEP, dict(PULSE, freq=0)]}
RECORD = {"N": np.int64(120), "srate": 2e9, "offset_global": np.complex128(0.05 + 0.01j), "st": np.float64(-2e-9),
          "extra": {"a": (1.0, 0.1, np.float64(5e-9), 0.5e-9)}}


def test_lines_and_record_sample_the_same_after_a_round_trip():
    lines, record = io.loads(io.dumps(LINES)), io.loads(io.dumps(RECORD))
    for name, pdc in LINES.items():
        for got, want in zip(wh.pdc2pulse(lines[name], record), wh.pdc2pulse(pdc, RECORD), strict=True):
            assert got.dtype == want.dtype and np.abs(want).max() > 0
            np.testing.assert_array_equal(got, want)


def test_numbers_become_plain_json():
    text = io.dumps(dict(RECORD, offset_global=np.complex64(0.05 + 0.01j)))
    assert json.loads(text) == {"N": 120, "srate": 2e9, "offset_global": {"re": float(np.float32(0.05)),
                                                                           "im": float(np.float32(0.01))},
                                "st": -2e-9, "extra": {"a": [1.0, 0.1, 5e-9, 0.5e-9]}}
    back = io.loads(text)
    assert type(back["N"]) is int and type(back["offset_global"]) is complex
    assert io.loads(io.dumps({"b": np.bool_(True), "z": 1j, "n": None})) == {"b": True, "z": 1j, "n": None}


def test_floats_keep_every_bit_and_nonfinite_values_travel():
    values = [0.1 + 0.2, 5e-324, -0.0, math.inf, -math.inf, complex(math.nan, -math.inf)]
    back = io.loads(io.dumps(values))
    assert back[:3] == values[:3] and math.copysign(1, back[2]) == -1
    assert back[3:5] == values[3:5]
    assert math.isnan(back[5].real) and back[5].imag == -math.inf


@pytest.mark.parametrize("obj,where,what", [
    ({"q0": [PULSE, dict(PULSE, shape=lambda X, pd, cp: X)]}, "['q0'][1]['shape']", "is a callable"),
    ([{"extra": {1: [1, 0, 1, 1]}}], "[0]['extra']", "the key 1"),
    ({"a": {"b": object()}}, "['a']['b']", "has type object"),
    (print, "the top level", "is a callable"),
])
def test_what_json_cannot_hold_is_refused_with_its_place(obj, where, what):
    with pytest.raises(TypeError) as err:
        io.dumps(obj)
    assert where in str(err.value) and what in str(err.value)


@pytest.mark.parametrize("value, text", [(True, "true"), (False, "false"), (np.bool_(True), "true")])
def test_booleans_are_written_as_json_booleans(value, text):
    assert io.dumps({"b": value}) == '{"b": %s}' % text
    assert io.loads(io.dumps([value]))[0] is bool(value)


@pytest.mark.parametrize("text", ['{"re": 1.0, "im": 2.0, "x": 3}', '{"re": 1.0}', '{"im": 2.0}'])
def test_a_dict_with_other_keys_than_re_and_im_stays_a_dict(text):
    assert io.loads(text) == json.loads(text)
