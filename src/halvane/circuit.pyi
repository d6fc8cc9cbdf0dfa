"""
Gate circuits: instructions, rule application, scheduling, collection per line, printing.
"""

from collections.abc import Iterable, Mapping, MutableMapping
from typing import Any

from halvane import brick as brick, rule as rule
import halvane.records


class INSTRUCTION:
    """
    One gate application: a gate name, its qubits and its targeted keywords.

    ``INSTRUCTION('CZ', 0, 1, q0__amp=0.5)`` has ``nm`` 'CZ', ``qubits``
    (0, 1), ``kwds`` {'q0__amp': 0.5}, ``dur`` 0 and ``lts`` None. Rule
    application sets ``dur`` and ``lts``, scheduling ``pos``, linking
    ``pre_ins`` and ``nxt_ins``. Instructions compare and hash by identity
    and print as ``CZ(0,1,q0__amp=0.5)``.
    """

    nm: str
    dur: Any
    qubits: tuple[Any, ...]
    kwds: dict[str, Any]
    lts: dict[str, list[list[dict[str, Any]]]] | None
    pos: Any
    pre_ins: set[INSTRUCTION]
    nxt_ins: set[INSTRUCTION]

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

    ins: list[INSTRUCTION]
    MGates: list[INSTRUCTION]
    all_qubits: set[Any]
    pin_pos: Any
    pin_gate: INSTRUCTION
    measure_info: list[list[Any]]

    def __init__(self, ins: list[INSTRUCTION]) -> None:
        """
        Keep the list of instructions (not copied); one instruction alone is a
        TypeError.
        """

    def get_measurement_info(self) -> Circuit:
        """
        Set ``measure_info`` to ``[pos, int(first qubit)]`` per measurement.

        Returns
        -------
        Circuit
            The circuit itself.
        """

    def __repr__(self) -> str:
        """``<Circuit: 3 instructions on qubits 0, 1, scheduled 0 .. 80 ns>``."""

    def _repr_html_(self) -> str | None:
        """The schedule table as HTML when the circuit is scheduled, else None."""

class _GateConstructor:
    """
    Build an INSTRUCTION of this gate name on the given qubits and keywords.

    ``instructification`` stores one per gate name; ``X(0, amp=1)`` is
    ``INSTRUCTION('X', 0, amp=1)``, the class looked up in this module at
    each call. It pickles as its gate name (``gate``).
    """

    def __init__(self, gate: Any) -> None:
        """Keep the gate name as ``gate``, and a docstring naming it."""

    def __call__(self, *qubits: Any, **kwds: Any) -> INSTRUCTION:
        """``INSTRUCTION(self.gate, *qubits, **kwds)``."""

    def __reduce__(self) -> tuple[Any, ...]:
        """
        ``(type(self), (self.gate,))``: a constructor pickles as its gate name.
        """

    def __repr__(self) -> str:
        """``<constructor of gate 'X'>``."""

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

    Examples
    --------
    A dict of your own keeps the constructors visible to type checkers:

    >>> from halvane import circuit
    >>> gates = {}
    >>> circuit.instructification(['X', 'CZ'], gates)
    >>> X, CZ = gates['X'], gates['CZ']
    >>> circuit.Circuit([X(0), CZ(0, 1, c__amp=0.2)]).ins
    [X(0), CZ(0,1,c__amp=0.2)]
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

def semi_apply(circ: Circuit, rules: Mapping[Any, Any], qubits_info: Mapping[str, halvane.records.QubitInfoLike]) -> Circuit:
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

    Examples
    --------
    >>> from halvane import circuit, rule, waveintent_enumeration as r
    >>> template = {'shape': 'cos', 'pos': 0, 'width': 0, 'plateau': 0, 'amp': 0,
    ...             'freq': 5e9, 'phase': 0, 'phase1': 0, 'vz': 0}
    >>> cal = {'pi': {'amp': 0.5, 'width': 40e-9, 'plateau': 0, 'phase_offs': 0.0}}
    >>> info = {'0': {'d': {'nm': 'q0_xy', 'pdt': template, 'cp': cal}}}
    >>> rules = {'X': rule.RULE(d=[[r.X_p()]])}
    >>> circ = circuit.Circuit([circuit.INSTRUCTION('X', 0), circuit.INSTRUCTION('X', 0, amp=0.3)])
    >>> circ = circuit.semi_apply(circ, rules, info)
    >>> [ins.dur for ins in circ.ins], circ.ins[1].lts['q0_xy'][0][0]['amp']
    ([4e-08, 4e-08], 0.3)
    """

def semi_apply_simple(inss: Iterable[INSTRUCTION], rules: Mapping[Any, Any], qubits_info: Mapping[str, halvane.records.QubitInfoLike]) -> Iterable[INSTRUCTION]:
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
    Place every pulse description at its instruction's ``pos`` plus its offset
    inside the gate (``rule.move_track``). Flushing again, after another
    schedule, places them anew rather than moving them further.
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

    Examples
    --------
    With ``circ`` from the example of ``semi_apply`` (two X of 40 ns on qubit 0):

    >>> circ = circuit.ASAP(circ, st_pos=1e-6)
    >>> [float(ins.pos) for ins in circ.ins]
    [1e-06, 1.04e-06]
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

    Examples
    --------
    With ``circ`` scheduled as in the example of ``ASAP``:

    >>> pdc = circuit.collect_pdc(circ)
    >>> [(line, [float(pd['pos']) for pd in pds]) for line, pds in pdc.items()]
    [('q0_xy', [1e-06, 1.04e-06])]
    """

def fold_vz(lines: Mapping[Any, Iterable[dict]], *, follow: Mapping[Any, Any] | None = None, sign: Mapping[Any, int] | None = None) -> tuple[dict[Any, list[dict]], list[tuple[float, Any, float, float]]]:
    """
    Fold the virtual-Z phases (``vz``) into the pulses that follow them.

    A pulse of phase φ turns the qubit about cos φ·x + sin φ·y, so an
    increment ``vz = δ`` of the frame between two pulses acts as Rz(−δ): a
    Z rotation by θ is calibrated as ``cp['vz'] = -θ`` for ``Vz_p``.

    Every line is a frame of its own unless ``follow`` says whose frame it
    shares. A description's ``vz`` (0 when absent) increments its frame's
    phase at the description's end, ``pos + width + plateau`` (a
    zero-length ``Vz_p`` at its ``pos``). The frame's phase Φ is the sum of
    the increments in effect, in time order, kept in [−π, π] after each
    (``phase = math.remainder(phase + vz, 2*math.pi)``). A pulse on one of
    the frame's lines takes the phase of the increments that took effect
    by its start, within 1 ps (an increment at t turns a pulse that starts
    at t − 1 ps or later), whatever track it is on: a pulse that starts
    while another's increment has not yet taken effect is not turned by
    it. A description is never turned by its own ``vz``, nor by an
    increment at the same instant ordered after its own (a zero-length
    ``Vz_p`` sees the frame before itself). Increments at one instant
    take effect in the order of the lines, then of the entries.
    A turned pulse's copy gets ``phase1 + s·Φ`` in ``phase1`` and ``s·Φ``
    under the new key ``frame_phase``, ``s`` being its line's sign.
    Level steps (``edge_shape``), pulses with ``freq`` 0 (a flux pulse is a
    real baseband signal) or without ``freq``, and pulses before the
    frame's first increment are never turned; their ``vz`` still counts.

    Parameters
    ----------
    lines : mapping
        Line name to pulse descriptions with absolute ``pos``, as
        ``collect_pdc`` returns after ``ASAP`` or ``ALAP``.
    follow : mapping, optional
        Line name to the line whose frame it shares (chains are followed):
        ``{'cr_01': 'q1_xy'}`` turns a cross-resonance line driven at qubit
        1's frequency with qubit 1's frame.
    sign : mapping, optional
        Line name to +1 or −1 (default +1): the factor with which the line's
        pulses take their frame's phase (a line mixed on the other sideband).

    Returns
    -------
    folded : dict
        Line name to a new list of new dicts, in the order of the input;
        the input is not changed. A line whose frame has no increment
        comes back as equal copies.
    events : list of tuple
        One row ``(time, line, increment, phase after)`` per non-zero
        ``vz``, in time order: for an exporter that uses an instrument's
        phase register instead of turned samples. ``phase after`` is the
        frame's phase, before the sign of any line.

    Raises
    ------
    ValueError
        A description already carries ``frame_phase`` (folding twice would
        turn it twice); ``follow`` or ``sign`` names a line that ``lines``
        lacks, or ``follow`` goes round in a cycle; a sign is not ±1; a
        ``vz`` is NaN or infinite (it would turn every later pulse of its
        frame to a NaN phase).
    TypeError
        ``lines``, ``follow`` or ``sign`` is not a mapping; a ``pos``,
        ``width``, ``plateau``, ``vz`` or ``freq`` that is not a real number.
        Errors of an entry carry a note naming the line and the entry ``#k``.

    Examples
    --------
    >>> from halvane import circuit
    >>> x = {'shape': 'cos', 'width': 40e-9, 'plateau': 0, 'amp': 0.5,
    ...      'freq': 100e6, 'phase': 0, 'phase1': 0, 'vz': 0}
    >>> vz = dict(x, pos=40e-9, width=0, amp=0, vz=-0.5)   # Rz(0.5)
    >>> folded, events = circuit.fold_vz({'q0': [dict(x, pos=0), vz, dict(x, pos=40e-9)]})
    >>> [pd['phase1'] for pd in folded['q0']], events
    ([0, 0, -0.5], [(4e-08, 'q0', -0.5, -0.5)])
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

_collaborators: tuple[str, ...]

__all__: list = ['INSTRUCTION', 'GATE', 'Circuit', 'instructification', 'get_nxt_ins', 'set_nxt_ins', 'get_pre_ins', 'set_pre_ins', 'forwared_dag_circuit', 'backward_dag_circuit', 'semi_apply', 'semi_apply_simple', '_ASAP', '_ALAP', 'shift_circ', 'flush_gate_pos_to_pds', 'ASAP', 'ALAP', 'collect_pdc', 'fold_vz', 'print_circuit', 'print_circuit_dag', 'print_circuit_dag_strid']
