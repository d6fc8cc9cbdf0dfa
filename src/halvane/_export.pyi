"""The native loops of halvane.export; use that module."""

import numpy


def quantize(x: numpy.ndarray, out: numpy.ndarray, channels: int, offset: float, full_scale: float, bits: int, offset_binary: bool) -> list[tuple[int, int, float, list[int]]]:
    """
    Quantize the float64 values of ``x`` into the integer array ``out``.

    ``x`` holds ``channels`` interleaved channels. Each value v becomes
    ``rint((v + offset) * (2**(bits-1) - 1) / full_scale)``, saturated at
    ``±(2**(bits-1) - 1)``, plus ``2**(bits-1)`` for offset binary; NaN and
    infinities become the code of 0. Returns, per channel, the number of
    clipped values, of non-finite values, the largest ``|v + offset|``
    among the clipped ones, and the sample indices of the first clipped ones.
    """

__all__: list = ['quantize']
