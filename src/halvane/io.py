"""Pulse descriptions and sampling records as JSON text.

``dumps`` writes what the sampling driver reads: a line's pulse-description
list, a mapping from line name to such lists (what ``circuit.collect_pdc``
returns), a sampling record with its IIR stages, or any nesting of dicts,
lists and tuples of numbers, strings, booleans and None. ``loads`` reads it
back, and ``loads(dumps(x))`` samples to the same arrays as ``x``:

- numpy scalars become plain numbers (booleans, integers, floats), and numpy
  arrays lists of them; a float32 or complex64 scalar is read back as a
  double, so arithmetic that numpy would have done in single precision is
  then done in double;
- complex values, Python's or numpy's, become ``{"re": .., "im": ..}``, which
  ``loads`` turns back into ``complex``;
- tuples become lists; NaN and infinities are written as JSON's usual
  extensions ``NaN``, ``Infinity`` and ``-Infinity``; floats keep every bit.

Dict keys must be strings. A callable (a user's shape function, say) or any
other object JSON cannot hold is refused with ``TypeError`` naming where it
sits, such as ``['q0_xy'][3]['shape']``.
"""

import json
import numbers

import numpy as np

__all__ = ["dumps", "loads"]


def _where(path):
    return "".join(f"[{p!r}]" for p in path) or "the top level"


def _plain(obj, path):
    """A copy of `obj` made only of what JSON holds."""
    if obj is None or isinstance(obj, (str, bool)):
        return obj
    if isinstance(obj, np.bool_):
        return bool(obj)
    if isinstance(obj, numbers.Integral):
        return int(obj)
    if isinstance(obj, numbers.Real):
        return float(obj)
    if isinstance(obj, numbers.Complex):
        value = complex(obj)
        return {"re": value.real, "im": value.imag}
    if isinstance(obj, dict):
        out = {}
        for key, value in obj.items():
            if not isinstance(key, str):
                raise TypeError(f"halvane.io.dumps: the key {key!r} at {_where(path)} is not a str; "
                                "JSON objects have string keys only")
            out[key] = _plain(value, path + [key])
        return out
    if isinstance(obj, (list, tuple, np.ndarray)):
        return [_plain(value, path + [i]) for i, value in enumerate(obj)]
    if callable(obj):
        raise TypeError(f"halvane.io.dumps: the value at {_where(path)} is a callable ({obj!r}); "
                        "JSON cannot hold code, give a shape by its name in shapeTable")
    raise TypeError(f"halvane.io.dumps: the value at {_where(path)} has type {type(obj).__name__}, "
                    "which JSON cannot hold")


def _complex(obj):
    if obj.keys() == {"re", "im"}:
        return complex(obj["re"], obj["im"])
    return obj


def dumps(obj, **kwargs):
    """JSON text of pulse descriptions, lines of them, or a sampling record.

    Parameters
    ----------
    obj : dict, list or tuple
        A pulse-description list, a mapping from line name to such lists,
        a sampling record, or a nesting of these.
    **kwargs
        Passed to ``json.dumps`` (``indent=1``, say).

    Returns
    -------
    str
        The JSON text; ``loads`` reads it back.

    Raises
    ------
    TypeError
        For a callable, a non-string dict key or another object JSON cannot
        hold, naming where it sits in ``obj``.
    """
    return json.dumps(_plain(obj, []), **kwargs)


def loads(text):
    """Read text written by ``dumps``: dicts, lists, numbers, complex values.

    ``{"re": x, "im": y}`` objects become ``complex(x, y)``; everything else
    is plain JSON (lists stay lists).
    """
    return json.loads(text, object_hook=_complex)
