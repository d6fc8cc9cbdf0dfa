"""A small scheduled circuit shared by the display tests: X(0) of 20 ns,
CZ(0,1) of 40 ns (a coupler pulse and virtual Z on both drives), Y(1) of
20 ns, a barrier and a measurement, so ASAP puts them at 0, 20, 60, 80 and
80 ns."""

from halvane import circuit as hc
from halvane import rule as hr
from halvane import waveintent_enumeration as we

TEMPLATE = {"shape": "cos", "pos": 0, "width": 0, "plateau": 0, "amp": 0, "freq": 100e6,
            "phase": 0, "phase1": 0, "vz": 0}
CAL = {"pi": {"amp": 0.5, "width": 20e-9, "plateau": 0, "phase_offs": 0},
       "fp": {"amp": 0.2, "width": 10e-9, "plateau": 30e-9}, "vz": 0.1,
       "M01": {"amp": 0.1, "width": 0, "plateau": 100e-9}}


def _line(name):
    return {"nm": name, "pdt": TEMPLATE, "cp": CAL}


QUBITS = {"0": {"d": _line("q0_xy"), "m": _line("q0_ro")}, "1": {"d": _line("q1_xy")},
          "0x1": {"c": _line("c01"), "d0": _line("q0_xy"), "d1": _line("q1_xy")}}
RULES = {"X": hr.RULE(d=[[we.X_p()]]), "Y": hr.RULE(d=[[we.Y_p()]]),
         "CZ": hr.RULE(c=[[we.F_p()]], d0=[[we.Vz_p()]], d1=[[we.Vz_p()]], _align="center"),
         "B": hr.RULE(), "M": hr.RULE(m=[[we.M_p()]])}


def gates():
    """The gate constructors, bound in a dict of their own."""
    g: dict = {}
    hc.instructification(RULES, g)
    return g


def example(measure=False, schedule=True):
    """X(0), CZ(0,1), Y(1) (then B() and M(0) with ``measure``), applied and ASAP-scheduled."""
    g = gates()
    ins = [g["X"](0), g["CZ"](0, 1), g["Y"](1)]
    if measure:
        ins += [g["B"](), g["M"](0)]
    circ = hc.Circuit(ins)
    if schedule:
        hc.semi_apply(circ, RULES, QUBITS)
        hc.ASAP(circ)
    return circ
