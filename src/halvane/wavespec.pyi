"""
WaveSpec: one control line's pulse descriptions with a sampling window.
"""

from collections.abc import Iterable
from typing import Any

import numpy

from halvane import wavespec_handling as pulse_compute
import halvane.records


_collaborators: tuple[str, ...]

class WaveSpec:
    """
    One control line: a pulse description list and the window [start, stop).

    ``ws << t`` moves every pulse by ``t`` seconds (in place, in the shared
    dicts); ``ws.sample(rate)`` samples the window at ``rate`` samples per
    second and returns the modulated line signal. The line rests at
    ``offset_global`` (set it in the constructor or as an attribute at any
    time); ``extra``, when not None, holds the IIR stages of the driver's
    sampling record.

    Examples
    --------
    >>> from halvane.wavespec import WaveSpec
    >>> pulse = {'shape': 'cos', 'pos': 10e-9, 'width': 20e-9, 'plateau': 0, 'amp': 0.5,
    ...          'freq': 100e6, 'phase': 0, 'phase1': 0}
    >>> ws = WaveSpec([pulse], start=0, stop=100e-9)
    >>> ws << 20e-9                  # every pulse 20 ns later, in place
    >>> ws.sample(2e9).shape         # 2 GS/s over [0, 100 ns)
    (200,)
    """

    pds: Any
    start: float
    stop: float
    offset_global: complex
    extra: dict[Any, Any] | None
    sample_rate: float
    li: dict[str, Any]

    def __init__(self, pds: Iterable[halvane.records.PulseLike], start: float = 0, stop: float = 5e-05, offset_global: complex = 0, extra: dict | None = None) -> None:
        """
        Parameters
        ----------
        pds : list
            The pulse description list of the line; kept, not copied.
        start, stop : float
            The window [start, stop), seconds.
        offset_global : number
            Resting level of the line before its first level step.
        extra : dict or None
            IIR stages for the driver: each value ``[A, B, tau, Ts]``.
        """

    def __lshift__(self, n: float) -> None:
        """Add ``n`` to the ``pos`` of every pulse description, in list order."""

    def sample(self, sample_rate: float | None = None, out: numpy.ndarray | None = None, chunk_size: Any = None, function_lib: Any = None) -> numpy.ndarray:
        """
        Sample the window [start, stop) and return the modulated signal.

        Parameters
        ----------
        sample_rate : float, optional
            Samples per second; stored as ``sample_rate``. Omitted, the rate of
            the previous call is used.
        out : numpy.ndarray, optional
            A writeable, contiguous complex128 array of exactly N samples: the
            signal is written into it, and it is returned (TypeError for
            another type or dtype, ValueError for another shape).
        chunk_size, function_lib
            Accepted and ignored.

        Returns
        -------
        numpy.ndarray
            ``W`` of ``pulse_compute.pdc2pulse(self.pds, self.li)``, complex128
            (``out`` itself when given).
            ``self.li`` is the record ``{'st': start, 'N': N, 'srate': rate,
            'offset_global': offset_global}`` (plus ``'extra'`` when set), where
            N = ceil((stop - start) * rate) counts the samples start + k/rate
            before stop (a product within 1e-9 of a whole number counts as it).
        """

    def __repr__(self) -> str:
        """``<WaveSpec: 3 pulses, window 0 .. 50 µs>``."""

__all__: list = ['WaveSpec']
