"""halvane: a control-pulse compiler for superconducting qubits.

Pulses are plain dicts; a control line's pulses are sampled into complex
waveforms, and gate circuits are compiled into such pulses through rules,
recipes and per-qubit calibration. The modules are imported one by one::

    from halvane import circuit, rule, wavespec_handling

The package itself imports nothing heavy.
"""

__version__ = "0.1.0"

__all__ = [
    "brick",
    "circuit",
    "rule",
    "waveintent",
    "waveintent_enumeration",
    "wavespec",
    "wavespec_handling",
]
