"""
Qubit keys, type tags, keyword routing, dict merging and pulse durations.
"""

from collections.abc import Iterable, Mapping
from typing import Any


def check_iterable(w: object) -> bool:
    """
    True when the interpreter can make an iterator of ``w``.

    Only ``TypeError`` means 'not iterable'; any other error propagates.
    """

def to_xqubits(qubits: Iterable[object]) -> str:
    """
    Join the qubits of an iterable into a qubit key.

    Each element is converted with ``str()`` and the pieces are joined by
    ``'x'``: ``(1, 2, 3)`` gives ``'1x2x3'``, an empty iterable ``''``.
    """

def from_xqubits(text: str) -> list[int]:
    """
    Split a qubit key at every ``'x'`` into a list of ints.

    ``'0x1x3'`` gives ``[0, 1, 3]``. A piece that is not a decimal integer
    raises ``ValueError`` from ``int()``.
    """

def isit(w: object, t: object) -> object:
    """``w.__maj_type__ == t``, or False when ``w`` has no major type tag."""

def isit_in(w: object, L: object) -> bool:
    """
    Whether ``w.__maj_type__ in L``; False when ``w`` has no major type tag.
    """

def m_isit(w: object, t: object) -> object:
    """``w.__mnr_type__ == t``, or False when ``w`` has no minor type tag."""

def m_isit_in(w: object, L: object) -> bool:
    """
    Whether ``w.__mnr_type__ in L``; False when ``w`` has no minor type tag.
    """

def u2split(k: str) -> list[str]:
    """
    Split a keyword name at every ``'__'``, keeping the non-empty parts.

    ``'q0__amp'`` gives ``['q0', 'amp']``, ``'__a____b'`` gives ``['a', 'b']``.
    """

def join_kw(s: list[str] = []) -> str:
    """
    Join the parts of a list with ``'__'``: ``['drag', 'scale']`` gives
    ``'drag__scale'``, ``[]`` gives ``''``.
    """

def catch(kwds: dict[str, object], w: str) -> dict[str, object]:
    """
    Route targeted keywords to the target ``w``.

    A plain keyword applies to every target. A keyword ``'<t>__<rest>'``
    applies when ``<t>`` is ``w`` or the wildcard ``'X'`` and is passed on
    as ``<rest>``; keywords for other targets are dropped. Later entries of
    ``kwds`` overwrite earlier ones under the same resulting name.

    Parameters
    ----------
    kwds : dict
        The keywords, read in insertion order.
    w : str
        The target's name.

    Returns
    -------
    dict
        A new dict of the keywords for ``w``.
    """

def pulse_duration(pd: Mapping[str, Any]) -> Any:
    """Duration of a pulse description: ``pd['width'] + pd['plateau']``."""

def merge_dict(*dcts: Any) -> dict:
    """One new dict updated with each argument in order; later arguments win."""

__all__: list = ['check_iterable', 'to_xqubits', 'from_xqubits', 'isit', 'isit_in', 'm_isit', 'm_isit_in', 'u2split', 'join_kw', 'catch', 'pulse_duration', 'merge_dict']
