"""Signatures and public names of the native modules, for inspect, pydoc and editors.

The native functions carry their signature as the text of a ``def`` line
(``__nb_signature__``). ``signature`` turns that text into an
``inspect.Signature`` whose annotations stay text, as under
``from __future__ import annotations``; the native modules install it on the
function types when they are loaded (``cpp/py/publish.cpp``).
"""

from __future__ import annotations

import ast
import inspect
import types

_P = inspect.Parameter


def _annotation(node: ast.expr | None) -> object:
    return _P.empty if node is None else ast.unparse(node)


def _default(node: ast.expr | None) -> object:
    return _P.empty if node is None else ast.literal_eval(node)


def signature(f: object) -> inspect.Signature | None:
    """The signature of a native function, from its ``def`` text; None when it has none or several."""
    try:
        (entry,) = f.__nb_signature__  # type: ignore[attr-defined]
        text = entry[0]
        # The name need not be an identifier (a gate constructor's is the gate's).
        head = f"def {f.__name__}("  # type: ignore[attr-defined]
        if text.startswith(head):
            text = "def f(" + text[len(head):]
        (fn,) = ast.parse(text + ": ...").body
    except (AttributeError, TypeError, ValueError, SyntaxError):
        return None
    if not isinstance(fn, ast.FunctionDef):
        return None
    a = fn.args
    positional = [(x, _P.POSITIONAL_ONLY) for x in a.posonlyargs] + [(x, _P.POSITIONAL_OR_KEYWORD) for x in a.args]
    defaults = [None] * (len(positional) - len(a.defaults)) + list(a.defaults)
    try:
        params = [_P(x.arg, kind, default=_default(d), annotation=_annotation(x.annotation))
                  for (x, kind), d in zip(positional, defaults)]
        if a.vararg:
            params.append(_P(a.vararg.arg, _P.VAR_POSITIONAL, annotation=_annotation(a.vararg.annotation)))
        params += [_P(x.arg, _P.KEYWORD_ONLY, default=_default(d), annotation=_annotation(x.annotation))
                   for x, d in zip(a.kwonlyargs, a.kw_defaults)]
        if a.kwarg:
            params.append(_P(a.kwarg.arg, _P.VAR_KEYWORD, annotation=_annotation(a.kwarg.annotation)))
        return inspect.Signature(params, return_annotation=_annotation(fn.returns))
    except ValueError:  # a default that is not a literal, or parameters out of order
        return None


def bound_signature(m: object) -> inspect.Signature | None:
    """The signature of a bound native method: its function's, without ``self``."""
    sig = signature(getattr(m, "__func__", None))
    if sig is None or not sig.parameters:
        return sig
    first = next(iter(sig.parameters.values()))
    if first.kind in (_P.VAR_POSITIONAL, _P.VAR_KEYWORD, _P.KEYWORD_ONLY):
        return sig
    return sig.replace(parameters=list(sig.parameters.values())[1:])


def _unbound(self: object, obj: object, owner: object = None) -> object:
    """A native module function stored on a class stays the function itself."""
    return self


#: What each native function type receives: name -> attribute of the type.
FUNCTION = {"__signature__": property(signature), "__get__": _unbound}
METHOD = {"__signature__": property(signature)}
BOUND_METHOD = {"__signature__": property(bound_signature)}


def public_names(module: types.ModuleType, *also: str) -> list[str]:
    """The names a native module defines for its users, in definition order.

    Names with a leading underscore (unless named in ``also``), modules it
    imports and objects it imports from elsewhere are left out.
    """
    names = []
    for name, value in vars(module).items():
        if (name.startswith("_") and name not in also) or isinstance(value, types.ModuleType):
            continue
        home = getattr(value, "__module__", None)
        if home is None or home == module.__name__:
            names.append(name)
    return names
