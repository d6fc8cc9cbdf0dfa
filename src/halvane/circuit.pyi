"""
Gate circuits: instructions, rule application, scheduling, collection per line, printing.
"""

from collections.abc import Iterable, Mapping, MutableMapping
from typing import Any

from halvane import brick as brick, rule as rule


class INSTRUCTION:
    """
    One gate application: a gate name, its qubits and its targeted keywords.

    ``INSTRUCTION('CZ', 0, 1, q0__amp=0.5)`` has ``nm`` 'CZ', ``qubits``
    (0, 1), ``kwds`` {'q0__amp': 0.5}, ``dur`` 0 and ``lts`` None. Rule
    application sets ``dur`` and ``lts``, scheduling ``pos``, linking
    ``pre_ins`` and ``nxt_ins``. Instructions compare and hash by identity
    and print as ``CZ(0,1,q0__amp=0.5)``.
    """

    __maj_type__: str = 'INSTRUCTION'

    __mnr_type__: str = 'INSTRUCTION'

    def __init__(self, name: str, *qubits: Any, **kwds: Any) -> None:
        """Record the gate name, the qubits (a tuple) and the keywords (a dict)."""

    def __str__(self) -> str:
        """``name(q0,q1,k=v)``: the qubits, then the keywords in order."""

    def __repr__(self) -> str:
        """The same text as ``__str__``."""

    def strid(self) -> str:
        """
        The text followed by a tag of the object's identity, ``X_p(0)<2c1b5e90>``.
        """

class GATE(INSTRUCTION):
    """An INSTRUCTION whose minor type tag is 'GATE'."""

    __mnr_type__: str = 'GATE'

class Circuit:
    """
    An ordered list of instructions.

    ``Circuit(ins)`` keeps the list itself as ``ins``. Rule application adds
    ``MGates``, ``all_qubits`` and, with a PIN, ``pin_pos`` and ``pin_gate``.
    """

    def __init__(self, ins: list[INSTRUCTION]) -> None:
        """Keep the list of instructions (not copied)."""

    def get_measurement_info(self) -> Circuit:
        """
        Set ``measure_info`` to ``[pos, int(first qubit)]`` per measurement.

        Returns
        -------
        Circuit
            The circuit itself.
        """

def instructification(instructions: Iterable[str], glob: MutableMapping[str, Any]) -> None:
    """
    Store a constructor of instructions under each gate name in ``glob``.

    After ``instructification(['X_p', 'CZ'], globals())``, ``CZ(0, 1)``
    builds ``INSTRUCTION('CZ', 0, 1)``; the class is looked up in this
    module at each call.

    Parameters
    ----------
    instructions : iterable of str
        The gate names.
    glob : mutable mapping
        Where to store them, typically ``globals()``.
    """

def get_nxt_ins(ins: INSTRUCTION) -> set[INSTRUCTION]:
    """
    The set ``ins.nxt_ins`` itself, or a new empty set when it was never linked.
    """

def set_nxt_ins(ins: INSTRUCTION, ins_comes_next: INSTRUCTION) -> None:
    """
    Add ``ins_comes_next`` to ``ins.nxt_ins``, creating the set on first use.
    """

def get_pre_ins(ins: INSTRUCTION) -> set[INSTRUCTION]:
    """
    The set ``ins.pre_ins`` itself, or a new empty set when it was never linked.
    """

def set_pre_ins(ins: INSTRUCTION, ins_pre_comes: INSTRUCTION) -> None:
    """
    Add ``ins_pre_comes`` to ``ins.pre_ins``, creating the set on first use.
    """

def forwared_dag_circuit(circ: Circuit) -> None:
    """
    Link every instruction to those that directly follow it on a shared qubit (``nxt_ins``).
    """

def backward_dag_circuit(circ: Circuit) -> None:
    """
    Link every instruction to those that directly precede it on a shared qubit (``pre_ins``).
    """

def semi_apply(circ: Circuit, rules: Mapping[Any, Any], qubits_info: Mapping[str, Any]) -> Circuit:
    """
    Apply the rules to every instruction of a circuit, in program order.

    Each instruction gets ``dur`` and ``lts`` from
    ``rule.get_rule(rules[ins.nm], key).semi_apply(qubits_info[key], **ins.kwds)``
    with ``key = brick.to_xqubits(ins.qubits)``. A "B" (barrier) or
    "PIN" gets empty qubit information, and when it names no qubits it is
    widened to all qubits of the circuit afterwards; a "PIN" sets
    ``circ.pin_pos`` to its keyword ``tm`` and ``circ.pin_gate`` to itself;
    "M" instructions are listed in ``circ.MGates``. ``circ.all_qubits`` is
    the set of all qubits named.

    Parameters
    ----------
    circ : Circuit
    rules : mapping
        Gate name -> RULE or RULE_COMP (anything ``get_rule`` accepts).
    qubits_info : mapping
        Qubit key -> the qubit information a rule takes.

    Returns
    -------
    Circuit
        ``circ`` itself.
    """

def semi_apply_simple(inss: Iterable[INSTRUCTION], rules: Mapping[Any, Any], qubits_info: Mapping[str, Any]) -> Iterable[INSTRUCTION]:
    """
    Apply the rules to a sequence of instructions, without barrier widening, pins or measurements.

    A "B" gets empty qubit information; every other name is an ordinary gate.

    Returns
    -------
    iterable
        ``inss`` itself.
    """

def _ASAP(circ: Circuit) -> Any:
    """
    Give every instruction the earliest start its qubits allow, from 0.

    Returns
    -------
    object
        The latest end time (0 for an empty circuit).
    """

def _ALAP(circ: Circuit) -> Any:
    """
    Give every instruction the latest start its qubits allow, ending by 0.

    Returns
    -------
    object
        The earliest start time, zero or negative.
    """

def shift_circ(circ: Circuit, t: Any) -> None:
    """Add ``t`` to the ``pos`` of every instruction."""

def flush_gate_pos_to_pds(circ: Circuit) -> None:
    """
    Move every pulse description by its instruction's ``pos`` (``rule.move_track``).
    """

def ASAP(circ: Circuit, st_pos: Any = None, ed_pos: Any = None) -> Circuit:
    """
    Schedule as soon as possible and give every pulse description its absolute time.

    Parameters
    ----------
    circ : Circuit
        With rules applied.
    st_pos : optional
        Start of the circuit.
    ed_pos : optional
        End of the latest instruction, when ``st_pos`` is None. Without
        either, a circuit with a PIN puts the pin instruction at ``pin_pos``.

    Returns
    -------
    Circuit
        ``circ`` itself.
    """

def ALAP(circ: Circuit, st_pos: Any = None, ed_pos: Any = None) -> Circuit:
    """
    Schedule as late as possible and give every pulse description its absolute time.

    Parameters
    ----------
    circ : Circuit
        With rules applied.
    st_pos : optional
        Start of the earliest instruction.
    ed_pos : optional
        End of the circuit, when ``st_pos`` is None. Pins are ignored.

    Returns
    -------
    Circuit
        ``circ`` itself.
    """

def collect_pdc(circ: Circuit) -> dict[Any, list[dict]]:
    """
    Gather the pulse descriptions of a scheduled circuit per line.

    Returns
    -------
    dict
        Line name -> list of the instructions' pulse descriptions (the same
        dict objects, not copies), lines in order of first appearance, the
        descriptions in program order, then track order. Not sorted by time.
    """

def print_circuit(circ: Circuit) -> None:
    """Print the instructions on one line: ``[X_p(0),CZ(0,1)]``."""

def print_circuit_dag(circ: Circuit) -> None:
    """
    Print each instruction with its successors and predecessors as sets:

    ``X_p(0) after:  {CZ(0,1)} before:  set()``, between lines ``[`` and ``]``.
    """

def print_circuit_dag_strid(circ: Circuit) -> None:
    """
    Print the links like ``print_circuit_dag``, with identity-tagged texts.

    ``CZ(0,1)<2c1b5e90> after:  Y_p(1)<2c1b6f10> before:  X_p(0)<2c1b5d00>``.
    """

_collaborators: tuple = ...
