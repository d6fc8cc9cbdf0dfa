"""
Gate rules: recipes per line and track, alignment, and rule selection per qubit key.
"""

from collections.abc import Iterable
from typing import Any

from halvane import brick as brick
import halvane.records


class RULE:
    """
    How one gate becomes pulses: tracks of recipes per local line marker.

    ``RULE(d0=[[X_p(), I_p()], [Vz_p()]], _align='center')`` declares two
    tracks on the marker ``'d0'``. Keywords beginning with ``'_'`` are
    options (stored in ``kwds``); the one read is ``_align``: ``'left'``
    (tracks start together, the default), ``'right'`` (they end together)
    or ``'center'`` (they share a centre). Every other keyword is a marker
    and its list of tracks goes into ``line_tracks``.
    """

    line_tracks: dict[str, list[list[Any]]]
    kwds: dict[str, Any]
    _align: str

    __maj_type__: str = 'RULE'

    __mnr_type__: str = 'RULE'

    def __init__(self, **line_tracks: Any) -> None:
        """
        Split the keywords into options and line tracks.

        Raises
        ------
        AssertionError
            When ``_align`` is not ``'left'``, ``'right'`` or ``'center'``.
        """

    def semi_apply(self, its_qubit_info: halvane.records.QubitInfoLike, **targeted_kwds: Any) -> tuple[Any, dict[str, list[list[dict]]]]:
        """
        Turn the gate into aligned tracks of new pulse descriptions.

        Keywords are routed with ``brick.catch`` first to the marker, then to
        the track's index, then to the pulse's index (``'d0__1__0__amp'``; the
        wildcard ``'X'`` matches any); what remains goes to the recipe's
        ``get_pd``. Each track is laid end to end from 0, then the tracks are
        aligned on the gate's longest track, across all lines. Markers that name
        the same line give it the tracks of all of them, in marker order.

        Parameters
        ----------
        its_qubit_info : mapping
            Marker -> ``{'nm': line name, 'pdt': template, 'cp': calibration}``.
        **targeted_kwds
            The gate's keywords.

        Returns
        -------
        tuple
            ``(max_duration, line_tracks)``: the longest track's duration, and a
            new dict from line name to tracks of descriptions whose ``pos`` is
            relative to the gate's start.
        """

    def __repr__(self) -> str:
        """``RULE(d=[[X_p()]], _align='left')``: markers, tracks and options."""

def move_track(track: Iterable[dict], w: Any) -> None:
    """
    Add ``w`` to the ``pos`` of every pulse description of ``track``, in place.
    """

class RULE_COMP:
    """
    A rule complex: the rule of one gate per qubit key, with a default.

    ``RULE_COMP([[0, rA], [[1, 2], rB], [[(0, 1)], rC], ['*', rD]])`` maps
    ``'0'`` to ``rA``, ``'1'`` and ``'2'`` to ``rB``, ``'0x1'`` to ``rC``,
    and everything else to ``rD``. The first item of each pair is expanded
    one level when it is iterable and not a str, so a multi-qubit key is
    written inside a list or as one key string (``['1x0', rE]``); later pairs
    overwrite earlier ones. All keys must have the arity of the first one.
    """

    complex_list: Any
    complex_dict: dict[str, Any]
    default_rule: Any
    number_of_qubits_sanity: int | None

    __maj_type__: str = 'RULE_COMP'

    __mnr_type__: str = 'RULE_COMP'

    def __init__(self, complex_list: Iterable[Any] = []) -> None:
        """
        Fill the table from ``(qubit description, rule)`` pairs.

        Parameters
        ----------
        complex_list : iterable
            The pairs, kept as ``complex_list`` (not copied).
        """

    def add_element(self, desc: int | str | list | tuple, rule: Any) -> None:
        """
        Add one terminal qubit description for ``rule``.

        An int is a single qubit, ``'*'`` sets ``default_rule``, any other
        str is a qubit key (``'1x0'``), a list or tuple is one ordered
        qubit tuple.

        Raises
        ------
        Exception
            For any other type.
        AssertionError
            When the arity differs from the first key's (after printing
            an error line).
        """

    def n_sanity_check(self, n: int) -> None:
        """
        Record the arity ``n`` of the first key, or check a later one against it.
        """

    def __repr__(self) -> str:
        """``<RULE_COMP: keys '0', '0x1', default None>``."""

def get_rule(A: Any, qubits: str) -> Any:
    """
    The rule of a selector for a qubit key.

    Parameters
    ----------
    A : RULE or RULE_COMP
        Told apart by their type tags, not by class.
    qubits : str
        The qubit key, as ``brick.to_xqubits`` makes it.

    Returns
    -------
    object
        ``A`` itself for a rule; for a complex, the key's rule, else its
        ``default_rule`` (None when it has none).
    """

_collaborators: tuple[str, ...]

__all__: list = ['RULE', 'move_track', 'RULE_COMP', 'get_rule']
