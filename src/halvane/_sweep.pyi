"""The native loops of halvane.sweep."""

from collections.abc import Mapping, Sequence

import numpy


def add_filtered(out: numpy.ndarray, rest: numpy.ndarray, start: int, x: numpy.ndarray, stages: Sequence[tuple[complex, complex, complex]], negligible: float = 0.0) -> None:
    """
    ``out[start:] = rest[start:] + y``, with y the response from rest of the IIR
    stages (b0, b1, a1) to ``x`` followed by zeros; ``out`` may be ``rest``.
    States below ``negligible`` (and below 2**-900) are taken as 0; when ``out``
    is ``rest``, the response ends there.
    """

def check_out(out: Mapping, lengths: Mapping) -> dict:
    """
    The pairs (W, S) of ``out``, checked as ``sample_lines`` checks them, for
    lines of the lengths given (no other line may be named).
    """

__all__: list = ['add_filtered', 'check_out']
