"""
WaveIntent, the base recipe that turns a line's template into a pulse description.
"""

from collections.abc import Mapping
from typing import Any

import halvane.records


class WaveIntent:
    """
    Base recipe: template copy, calibration hook, class keywords, call keywords.

    ``WaveIntent(**kwds)`` stores its keyword arguments as ``kw``, the class
    keywords that every pulse description made by this object receives.
    Subclasses override ``will(w, cp)`` to write calibration values into the
    copy ``w``; ``get_pd`` applies the four layers in order.
    """

    kw: dict[str, Any]

    __maj_type__: str = 'WaveIntent'

    __mnr_type__: str = 'WaveIntent'

    def __init__(self, **kwds: Any) -> None:
        """Store the keyword arguments as the class keywords ``kw``."""

    def get_pd(self, pdt: halvane.records.PulseLike, cp: Mapping[str, Any] = {}, **kwds_: Any) -> dict[str, Any]:
        """
        Produce one pulse description from the template ``pdt``.

        Parameters
        ----------
        pdt : dict
            The line's template pulse description; copied, never changed.
        cp : dict
            The qubit's calibration dict, read by ``will``.
        **kwds_
            Targeted keywords; they override everything else.

        Returns
        -------
        dict
            ``pdt.copy()`` changed by ``self.will(w, cp)``, then updated with
            ``self.kw`` and with ``kwds_``.

        Examples
        --------
        >>> from halvane import waveintent_enumeration as r
        >>> template = {'amp': 0, 'width': 0, 'plateau': 0, 'vz': 0}
        >>> r.X_p(amp=0.3).get_pd(template, {'pi': {'amp': 0.5, 'width': 4e-8, 'phase_offs': 0.1}})
        {'amp': 0.3, 'width': 4e-08, 'plateau': 0, 'vz': 0.1, 'phase_offs': 0.1, 'phase': 0}
        """

    def will(self, w: dict, cp: dict) -> None:
        """
        Calibration hook: change ``w`` in place from ``cp``. Does nothing here.
        """

    def __repr__(self) -> str:
        """The class name and class keywords: ``X_p(amp=0.3)``."""

__all__: list = ['WaveIntent']
