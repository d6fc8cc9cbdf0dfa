"""inspect, pydoc and editors see the native modules as they see Python code."""

import ast
import importlib
import inspect
import pathlib
import pydoc
import re

import pytest

from halvane import brick, circuit, rule, wavespec

SRC = pathlib.Path(__file__).resolve().parent.parent / "src" / "halvane"
MODULES = sorted(p.stem for p in SRC.glob("*.pyi"))


def stub(module):
    return ast.parse((SRC / f"{module}.pyi").read_text())


def stub_functions(module):
    """(owner, name, FunctionDef) for every def of the stub, methods with their class."""
    for node in stub(module).body:
        if isinstance(node, ast.FunctionDef):
            yield None, node.name, node
        elif isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    yield node.name, item.name, item


def expected(fn, bound):
    """(name, kind, default source) of each parameter the stub declares."""
    a, P = fn.args, inspect.Parameter
    positional = [(x, P.POSITIONAL_OR_KEYWORD) for x in a.args]
    defaults = [None] * (len(positional) - len(a.defaults)) + a.defaults
    params = [(x.arg, kind, d and ast.unparse(d)) for (x, kind), d in zip(positional, defaults)]
    if a.vararg:
        params.append((a.vararg.arg, P.VAR_POSITIONAL, None))
    params += [(x.arg, P.KEYWORD_ONLY, d and ast.unparse(d)) for x, d in zip(a.kwonlyargs, a.kw_defaults)]
    if a.kwarg:
        params.append((a.kwarg.arg, P.VAR_KEYWORD, None))
    return params[1:] if bound else params


def found(sig):
    return [(p.name, p.kind, None if p.default is p.empty else repr(p.default)) for p in sig.parameters.values()]


CALLABLES = [(m, owner, name) for m in MODULES for owner, name, _ in stub_functions(m)]


@pytest.mark.parametrize("module, owner, name", CALLABLES, ids=[f"{m}.{o + '.' if o else ''}{n}" for m, o, n in CALLABLES])
def test_signature_matches_the_stub(module, owner, name):
    mod = importlib.import_module(f"halvane.{module}")
    fn = {(o, n): f for o, n, f in stub_functions(module)}[owner, name]
    obj = getattr(getattr(mod, owner), name) if owner else getattr(mod, name)
    assert found(inspect.signature(obj)) == expected(fn, bound=False)
    assert inspect.isroutine(obj)
    if owner and name == "__init__":
        # The class itself: its constructor's parameters without self.
        assert found(inspect.signature(getattr(mod, owner))) == expected(fn, bound=True)


def test_bound_methods_drop_self():
    ws = wavespec.WaveSpec([])
    assert list(inspect.signature(ws.sample).parameters) == ["sample_rate", "out", "chunk_size", "function_lib"]
    assert list(inspect.signature(rule.RULE().semi_apply).parameters) == ["its_qubit_info", "targeted_kwds"]


@pytest.mark.parametrize("module", MODULES)
def test_all_matches_the_stub(module):
    mod = importlib.import_module(f"halvane.{module}")
    tree = stub(module)
    (declared,) = [ast.literal_eval(n.value) for n in tree.body
                   if isinstance(n, ast.AnnAssign) and ast.unparse(n.target) == "__all__"]
    assert declared == mod.__all__
    defined = [n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))]
    assert [n for n in defined if not n.startswith("_") or n in ("_ASAP", "_ALAP")] == \
        [n for n in mod.__all__ if n in defined]
    assert all(hasattr(mod, n) for n in mod.__all__)
    assert "np" not in mod.__all__ and "lfilter" not in mod.__all__


def test_help_lists_functions_as_functions():
    from halvane import wavespec_handling as wh

    text = pydoc.render_doc(wh, renderer=pydoc.plaintext)
    functions, data = text.split("\nFUNCTIONS\n")[1].split("\nDATA\n")
    # Python 3.13 wraps a long signature over several lines.
    signature = re.search(r"^    pdc2pulse\((.*?)\)", functions, re.M | re.S)
    assert signature and " ".join(signature[1].split()) == (
        "pds: 'typing.Iterable[halvane.records.PulseLike]', li: 'halvane.records.RecordLike'")
    assert "pdc2pulse" not in data and "shapeTable = {" in data


def test_a_module_function_on_a_class_stays_unbound():
    class Keys:
        key = brick.to_xqubits

    assert Keys().key((0, 1)) == "0x1" and Keys.key is brick.to_xqubits


def test_gate_constructors_carry_a_signature_and_a_docstring():
    gates = {}
    circuit.instructification(["CZ", "not-an-identifier"], gates)
    cz = gates["CZ"]
    assert str(inspect.signature(cz)) == "(*qubits: 'typing.Any', **kwds: 'typing.Any') -> 'INSTRUCTION'"
    assert "Build an instruction of the gate 'CZ'" in cz.__doc__
    assert "INSTRUCTION('CZ', 0, 1, d__amp=0.3)" in cz.__doc__
    assert str(cz(0, 1, d__amp=0.3)) == "CZ(0,1,d__amp=0.3)"
    assert list(inspect.signature(gates["not-an-identifier"]).parameters) == ["qubits", "kwds"]


@pytest.mark.parametrize("module", MODULES)
def test_every_public_callable_has_a_signature(module):
    mod = importlib.import_module(f"halvane.{module}")
    for name in mod.__all__:
        obj = getattr(mod, name)
        if callable(obj):
            assert isinstance(inspect.signature(obj), inspect.Signature), name
            for attr, member in vars(obj).items() if isinstance(obj, type) else ():
                if callable(member) and not isinstance(member, type):
                    assert isinstance(inspect.signature(getattr(obj, attr)), inspect.Signature), f"{name}.{attr}"


def test_the_package_lists_every_module_that_needs_no_extra():
    import halvane

    modules = {p.stem for p in SRC.iterdir() if p.suffix in (".py", ".pyi") and not p.stem.startswith("_")}
    assert sorted(halvane.__all__) == sorted(modules - {"plot"})  # plot needs matplotlib
    names: dict = {}
    exec("from halvane import *", names)
    assert set(halvane.__all__) <= set(names)
