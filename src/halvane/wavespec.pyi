"""
WaveSpec: one control line's pulse descriptions with a sampling window.
"""

from typing import Any

import numpy

from halvane import wavespec_handling as pulse_compute


_collaborators: tuple = ('pulse_compute.pdc2pulse')

class WaveSpec:
    """
    One control line: a pulse description list and the window [start, stop).

    ``ws << t`` moves every pulse by ``t`` seconds (in place, in the shared
    dicts); ``ws.sample(rate)`` samples the window at ``rate`` samples per
    second and returns the modulated line signal. The line rests at
    ``offset_global`` (set it in the constructor or as an attribute at any
    time); ``extra``, when not None, holds the IIR stages of the driver's
    sampling record.
    """

    def __init__(self, pds: list, start: float = 0, stop: float = 5e-05, offset_global: complex = 0, extra: dict | None = None) -> None:
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

    def sample(self, sample_rate: float | None = None, out: Any = None, chunk_size: Any = None, function_lib: Any = None) -> numpy.ndarray:
        """
        Sample the window [start, stop) and return the modulated signal.

        Parameters
        ----------
        sample_rate : float, optional
            Samples per second; stored as ``sample_rate``. Omitted, the rate of
            the previous call is used.
        out, chunk_size, function_lib
            Accepted and ignored.

        Returns
        -------
        numpy.ndarray
            ``W`` of ``pulse_compute.pdc2pulse(self.pds, self.li)``, complex128.
            ``self.li`` is the record ``{'st': start, 'N': N, 'srate': rate,
            'offset_global': offset_global}`` (plus ``'extra'`` when set), where
            N = ceil((stop - start) * rate) counts the samples start + k/rate
            before stop (a product within 1e-9 of a whole number counts as it).
        """
