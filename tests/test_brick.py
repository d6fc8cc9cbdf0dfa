"""Qubit keys, type tags, keyword routing, dict merging and pulse durations."""

import pytest

from halvane import brick

TYPE_MSG = "Argument '{}' has incorrect type (expected {}, got {})"


@pytest.mark.parametrize(
    "w, expected",
    [("ab", True), ([1], True), ((), True), ({"a": 1}, True), (range(3), True), ({1}, True), (3, False), (None, False)],
)
def test_check_iterable(w, expected):
    assert brick.check_iterable(w) is expected


def test_check_iterable_lets_other_errors_through():
    class Broken:
        def __iter__(self):
            raise ValueError("broken")

    with pytest.raises(ValueError, match="broken"):
        brick.check_iterable(Broken())


def test_check_iterable_consumes_nothing():
    it = iter([1, 2])
    assert brick.check_iterable(it)
    assert list(it) == [1, 2]


@pytest.mark.parametrize(
    "qubits, key",
    [((0,), "0"), ([], ""), ((1, 2, 3), "1x2x3"), ((0, 1), "0x1"), ((1, 0), "1x0"), ("12", "1x2"), (range(3), "0x1x2")],
)
def test_to_xqubits(qubits, key):
    assert brick.to_xqubits(qubits) == key


@pytest.mark.parametrize("qubits", [(10, 2, 3), (0,), (7, 0, 12)])
def test_qubit_key_round_trip(qubits):
    assert brick.from_xqubits(brick.to_xqubits(qubits)) == list(qubits)


@pytest.mark.parametrize("text", ["0xx1", "", "ax1", "1x"])
def test_from_xqubits_rejects_non_integers(text):
    with pytest.raises(ValueError, match="invalid literal for int"):
        brick.from_xqubits(text)


class Tagged:
    __maj_type__ = "RULE"
    __mnr_type__ = "Y_p"


@pytest.mark.parametrize(
    "fn, w, arg, expected",
    [
        (brick.isit, 3, "RULE", False),
        (brick.isit, Tagged(), "RULE", True),
        (brick.isit, Tagged(), "GATE", False),
        (brick.m_isit, Tagged(), "Y_p", True),
        (brick.isit_in, Tagged(), ["RULE", "X"], True),
        (brick.isit_in, 3, ["RULE"], False),
        (brick.m_isit_in, Tagged(), ["X_p", "Y_p"], True),
        (brick.m_isit_in, Tagged(), ("X_p",), False),
        (brick.m_isit_in, Tagged, "xxY_pxx", True),
    ],
)
def test_type_tags(fn, w, arg, expected):
    assert fn(w, arg) is expected


def test_isit_returns_the_comparison_and_lets_its_errors_through():
    class Odd:
        def __eq__(self, other):
            return "same"

    class HasOdd:
        __maj_type__ = Odd()

    assert brick.isit(HasOdd(), "x") == "same"

    class Raising:
        @property
        def __maj_type__(self):
            raise RuntimeError("tag failed")

    with pytest.raises(RuntimeError, match="tag failed"):
        brick.isit(Raising(), "x")
    with pytest.raises(TypeError):
        brick.isit_in(Tagged(), 3)


@pytest.mark.parametrize(
    "k, parts",
    [("q0__amp", ["q0", "amp"]), ("amp", ["amp"]), ("__a____b", ["a", "b"]), ("", []), ("a___b", ["a", "_b"]),
     ("q1__freq", ["q1", "freq"])],
)
def test_u2split(k, parts):
    assert brick.u2split(k) == parts


@pytest.mark.parametrize("s, text", [([], ""), (["a"], "a"), (["drag", "scale"], "drag__scale"), (["a", "b", "c"], "a__b__c")])
def test_join_kw(s, text):
    assert brick.join_kw(s) == text


def test_join_kw_default_and_round_trip():
    assert brick.join_kw() == ""
    for k in ["q0__drag__scale", "amp", "a___b"]:
        assert brick.join_kw(brick.u2split(k)) == k


def test_join_kw_concatenates_like_python():
    with pytest.raises(TypeError, match="can only concatenate str"):
        brick.join_kw(["a", 1])


@pytest.mark.parametrize(
    "call, name, expected, got",
    [
        (lambda: brick.u2split(3), "k", "str", "int"),
        (lambda: brick.u2split(None), "k", "str", "NoneType"),
        (lambda: brick.join_kw(("a",)), "s", "list", "tuple"),
        (lambda: brick.join_kw(None), "s", "list", "NoneType"),
        (lambda: brick.catch([], "q0"), "kwds", "dict", "list"),
        (lambda: brick.catch({}, 0), "w", "str", "int"),
        (lambda: brick.catch({1: 2}, "q0"), "k", "str", "int"),
    ],
)
def test_annotated_argument_types(call, name, expected, got):
    with pytest.raises(TypeError) as err:
        call()
    assert str(err.value) == TYPE_MSG.format(name, expected, got)


def test_catch_wants_exactly_a_dict():
    class D(dict):
        pass

    with pytest.raises(TypeError) as err:
        brick.catch(D(), "q")
    assert str(err.value) == TYPE_MSG.format("kwds", "dict", "D")


@pytest.mark.parametrize(
    "kwds, w, expected",
    [
        ({"amp": 0.5, "q1__amp": 0.7, "q2__amp": 0.9, "X__phase": 1.0}, "q1", {"amp": 0.7, "phase": 1.0}),
        ({"q1__drag__scale": 2}, "q1", {"drag__scale": 2}),
        ({"drag__scale": 2}, "drag", {"scale": 2}),
        ({"amp": 1, "q0__amp": 2}, "q0", {"amp": 2}),
        ({"q0__amp": 2, "amp": 1}, "q0", {"amp": 1}),
        ({"X__amp": 3, "q0__amp": 2}, "q0", {"amp": 2}),
        ({"q1__amp": 2}, "q0", {}),
        ({"__amp": 2}, "q0", {"__amp": 2}),
    ],
)
def test_catch_routing_and_precedence(kwds, w, expected):
    before = dict(kwds)
    got = brick.catch(kwds, w)
    assert got == expected and list(got) == list(expected)
    assert kwds == before


@pytest.mark.parametrize("key", ["", "____"])
def test_catch_all_empty_key(key):
    with pytest.raises(IndexError):
        brick.catch({key: 1}, "q0")


def test_pulse_duration():
    assert brick.pulse_duration({"width": 20e-9, "plateau": 0}) == 20e-9
    with pytest.raises(KeyError, match="plateau"):
        brick.pulse_duration({"width": 1})
    with pytest.raises(KeyError, match="width"):
        brick.pulse_duration({})


def test_merge_dict():
    a, b = {"a": 1}, {"a": 2, "b": 3}
    assert brick.merge_dict(a, b) == {"a": 2, "b": 3}
    assert a == {"a": 1} and b == {"a": 2, "b": 3}
    assert brick.merge_dict() == {}
    assert brick.merge_dict([("x", 1)]) == {"x": 1}
    with pytest.raises(TypeError):
        brick.merge_dict(a=1)


@pytest.mark.parametrize("fn", [brick.to_xqubits, brick.u2split, brick.pulse_duration, brick.check_iterable])
def test_wrong_argument_count(fn):
    with pytest.raises(TypeError):
        fn()
    with pytest.raises(TypeError):
        fn(1, 2, 3)
