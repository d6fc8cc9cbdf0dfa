"""halvane: a control-pulse compiler for superconducting qubits.

Pulses are plain dicts; a control line's pulses are sampled into complex
waveforms, and gate circuits are compiled into such pulses through rules,
recipes and per-qubit calibration. The modules are imported one by one::

    from halvane import circuit, rule, wavespec_handling

``halvane.check`` finds typos and unit slips in the dicts before they are
used; ``halvane.records`` describes those dicts as TypedDicts for editors
and type checkers; ``halvane.io`` writes pulse lists and sampling records
as JSON; ``halvane.schedule`` tabulates where the gates of a
scheduled circuit sit, ``halvane.export`` turns sampled lines into the
integer codes and files an instrument loads, ``halvane.sweep`` builds the
points of a sweep from the pulses they change, and ``halvane.plot`` (with
matplotlib, so not among
``__all__``) draws lines and schedules. The package itself imports nothing
heavy.
"""

__version__ = "0.1.0"

__all__ = [
    "brick",
    "check",
    "circuit",
    "export",
    "io",
    "records",
    "rule",
    "schedule",
    "sweep",
    "waveintent",
    "waveintent_enumeration",
    "wavespec",
    "wavespec_handling",
]
