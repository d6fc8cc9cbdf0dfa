"""The whole road: gate names, a circuit, rules and calibration, ASAP,
collection per line, and the sampled arrays of every line."""

import copy

import numpy as np
import pytest

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent_enumeration as we
from halvane import wavespec_handling as wh

# Rectangles on a zero-frequency carrier, sampled between the nanosecond
# marks, so every sample is either inside a pulse or outside it.
TEMPLATE = {"shape": "square", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 0,
            "phase": 0, "phase1": 0, "vz": 0}
PI = {"amp": 0.5, "width": 0, "plateau": 4e-9, "phase_offs": 0.1}
CAL = [{"pi": PI, "vz": 0.3, "M01": {"amp": 0.1, "plateau": 5e-9}, "fp": {"amp": 0.3, "plateau": 6e-9}},
       {"pi": PI, "vz": 0.4}]
RECORD = {"N": 20, "srate": 1e9, "offset_global": 0, "st": 0.5e-9}


def line(name, q):
    return {"nm": name, "pdt": TEMPLATE, "cp": CAL[q]}


QUBITS = {
    "0": {"d": line("q0_xy", 0), "m": line("q0_m", 0)},
    "1": {"d": line("q1_xy", 1)},
    "0x1": {"z": line("q0_z", 0), "d0": line("q0_xy", 0), "d1": line("q1_xy", 1)},
}
RULES = {
    "X": hr.RULE_COMP([[[0, 1], hr.RULE(d=[[we.X_p()]])]]),
    "Y": hr.RULE_COMP([[[0, 1], hr.RULE(d=[[we.Y_p()]])]]),
    "M": hr.RULE_COMP([[0, hr.RULE(m=[[we.M_p()]])]]),
    "CZ": hr.RULE_COMP([[[(0, 1)], hr.RULE(z=[[we.F_p()]], d0=[[we.Vz_p()]], d1=[[we.Vz_p()]], _align="center")]]),
}


def samples(ranges):
    """The envelope by hand: value v on samples a..b-1 for each (a, b, v)."""
    s = np.zeros(RECORD["N"], dtype=complex)
    for a, b, v in ranges:
        s[a:b] = v
    return s


def test_from_gate_names_to_sampled_lines():
    before = copy.deepcopy((TEMPLATE, CAL, QUBITS))
    names = {}
    hc.instructification(["X", "Y", "CZ", "M"], names)
    circ = hc.Circuit([names["X"](0), names["CZ"](0, 1, z__amp=0.2), names["Y"](1), names["M"](0)])

    hc.ASAP(hc.semi_apply(circ, RULES, QUBITS))
    # X(0) 0-4 ns; CZ(0, 1) waits for qubit 0: 4-10 ns; Y(1) and M(0) then 10-14 and 10-15 ns.
    assert [i.pos for i in circ.ins] == pytest.approx([0, 4e-9, 10e-9, 10e-9], abs=1e-21)
    assert circ.get_measurement_info().measure_info == [[circ.ins[3].pos, 0]]

    pdcs = hc.collect_pdc(circ)
    assert list(pdcs) == ["q0_xy", "q0_z", "q1_xy", "q0_m"]
    # Rotations add their phase offset to vz; the CZ's virtual-Z markers sit
    # at its centre, 7 ns, with each qubit's own calibrated phase.
    assert [v for p in pdcs["q0_xy"] for v in (p["vz"], p["pos"])] == pytest.approx([0.1, 0, 0.3, 7e-9], abs=1e-21)
    assert [v for p in pdcs["q1_xy"] for v in (p["vz"], p["pos"])] == pytest.approx([0.4, 7e-9, 0.1, 10e-9], abs=1e-21)

    expected = {
        "q0_xy": samples([(0, 4, 0.5)]),
        "q0_z": samples([(4, 10, 0.2)]),
        "q1_xy": samples([(10, 14, 0.5j)]),
        "q0_m": samples([(10, 15, 0.1)]),
    }
    for name, pdc in pdcs.items():
        X, W, S = wh.pdc2pulse(pdc, RECORD)
        assert X == pytest.approx(0.5e-9 + 1e-9 * np.arange(20), abs=1e-21)
        np.testing.assert_allclose(S, expected[name], rtol=0, atol=1e-15)
        np.testing.assert_allclose(W, expected[name], rtol=0, atol=1e-15)
    assert (TEMPLATE, CAL, QUBITS) == before
