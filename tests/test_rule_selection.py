"""Rule selection: RULE_COMP key forms, defaults, arity, and get_rule."""

import copy
import pickle

import pytest

from halvane import rule as hr

rA, rB, rC, rD = (hr.RULE(d0=[]) for _ in range(4))
NAMES = {id(rA): "rA", id(rB): "rB", id(rC): "rC", id(rD): "rD"}


def table(comp):
    return {k: NAMES[id(v)] for k, v in comp.complex_dict.items()}


@pytest.mark.parametrize(
    "pairs, keys",
    [
        ([[0, rA]], {"0": "rA"}),
        ([[[1, 2, 3, 4], rB]], {"1": "rB", "2": "rB", "3": "rB", "4": "rB"}),
        ([[range(73, 76), rB]], {"73": "rB", "74": "rB", "75": "rB"}),
        ([(["81", "42"], rC)], {"81": "rC", "42": "rC"}),
        ([[(0,), rA]], {"0": "rA"}),
        ([[(4, 5), rC]], {"4": "rC", "5": "rC"}),
        ([[[(0, 1)], rD]], {"0x1": "rD"}),
        ([[[(1, 0), [2, 1]], rD]], {"1x0": "rD", "2x1": "rD"}),
        ([[["1x0", "2x1"], rC]], {"1x0": "rC", "2x1": "rC"}),
        ([[["01"], rA]], {"1": "rA"}),
        # A str at the top of a pair is one description, not its characters.
        ([["1x0", rA]], {"1x0": "rA"}),
        ([["12", rA]], {"12": "rA"}),
        ([["01", rA], [("3",), rB]], {"1": "rA", "3": "rB"}),
        ([[[1, 2, 3, 4], rB], [[4, 5], rC]], {"1": "rB", "2": "rB", "3": "rB", "4": "rC", "5": "rC"}),
        ([[[(i, j) for i in range(3) for j in (i, i + 1)], rA]],
         {"0x0": "rA", "0x1": "rA", "1x1": "rA", "1x2": "rA", "2x2": "rA", "2x3": "rA"}),
    ],
)
def test_descriptions_are_expanded_one_level(pairs, keys):
    comp = hr.RULE_COMP(pairs)
    assert table(comp) == keys and list(comp.complex_dict) == list(keys)
    assert comp.complex_list is pairs and comp.default_rule is None


def test_default_rule_and_get_rule():
    comp = hr.RULE_COMP([[0, rA], ["*", rB]])
    assert hr.RULE_COMP([["*", rA], ["0x1", rB]]).default_rule is rA
    assert comp.default_rule is rB and comp.number_of_qubits_sanity == 1
    assert hr.get_rule(comp, "0") is rA
    assert hr.get_rule(comp, "5") is rB
    assert hr.get_rule(comp, 0) is rB  # an int is not a key string
    assert hr.get_rule(hr.RULE_COMP(), "0") is None
    assert hr.get_rule(rA, "7") is rA


def test_the_default_list_is_shared_and_left_alone():
    a, b = hr.RULE_COMP(), hr.RULE_COMP()
    assert a.complex_list is b.complex_list == []
    assert vars(a) == {"complex_list": [], "complex_dict": {}, "default_rule": None, "number_of_qubits_sanity": None}
    assert hr.RULE_COMP(complex_list=[[3, rA]]).complex_dict == {"3": rA}


def test_arity_is_fixed_by_the_first_key(capsys):
    with pytest.raises(AssertionError) as e:
        hr.RULE_COMP([[0, rA], [[(0, 1)], rD]])
    assert str(e.value) == "sanity check the qubits number are not same!, it should be 1, but given 2"
    assert capsys.readouterr().out == "ERROR at RULE_COMP-add_element- int,str or tuple:\n"
    comp = hr.RULE_COMP([[[(0, 1)], rD], ["*", rA]])
    with pytest.raises(AssertionError, match="it should be 2, but given 3"):
        comp.add_element((1, 2, 3), rB)
    comp.add_element("2x3", rC)
    assert table(comp) == {"0x1": "rD", "2x3": "rC"} and comp.default_rule is rA


@pytest.mark.parametrize(
    "pairs, error, match",
    [
        ([[0.5, rA]], Exception, "^add_element- Given type unknown$"),
        ([[[None], rA]], Exception, "^add_element- Given type unknown$"),
        ([["1y0", rA]], ValueError, "invalid literal for int"),
        ([[0, rA, rB]], ValueError, "too many values to unpack"),
        ([[0]], ValueError, "not enough values to unpack"),
        ([5], TypeError, "cannot unpack non-iterable int object"),
    ],
)
def test_bad_tables(pairs, error, match):
    with pytest.raises(error, match=match) as e:
        hr.RULE_COMP(pairs)
    if error is Exception:
        assert type(e.value) is Exception


def test_get_rule_reads_tags_not_classes():
    class Table:
        __maj_type__ = "RULE_COMP"
        complex_dict = {"1": "one"}
        default_rule = "other"

    class Single:
        __maj_type__ = "RULE"

    assert hr.get_rule(Table(), "1") == "one" and hr.get_rule(Table(), "2") == "other"
    s = Single()
    assert hr.get_rule(s, "1") is s
    with pytest.raises(Exception) as e:
        hr.get_rule(3, "0")
    assert type(e.value) is Exception and str(e.value) == "get-rule The instance 3 is not known!"


def test_arity_check_compares_with_eq_even_against_itself():
    nan = float("nan")
    comp = hr.RULE_COMP()
    comp.n_sanity_check(nan)
    assert comp.number_of_qubits_sanity is nan
    with pytest.raises(AssertionError, match="it should be nan, but given nan"):
        comp.n_sanity_check(nan)

    class Never:
        def __eq__(self, other):
            return False

        def __repr__(self):
            return "never"

    comp.number_of_qubits_sanity = never = Never()
    with pytest.raises(AssertionError, match="it should be never, but given never"):
        comp.n_sanity_check(never)


def test_unknown_selector_is_named_by_its_formatted_text():
    class Shown(str):
        def __str__(self):
            return "str of the text"

    class Odd:
        def __format__(self, fmt):
            return Shown("formatted")

    with pytest.raises(Exception) as e:
        hr.get_rule(Odd(), "0")
    assert type(e.value) is Exception and str(e.value) == "get-rule The instance formatted is not known!"


def test_overridden_adder_is_used_by_the_constructor():
    class Logged(hr.RULE_COMP):
        def add_element(self, desc, rule):
            self.seen = getattr(self, "seen", []) + [desc]
            super().add_element(desc, rule)

    comp = Logged([[[1, (2,)], rA], ["*", rB]])
    assert comp.seen == [1, (2,), "*"] and set(comp.complex_dict) == {"1", "2"}


def test_complexes_pickle_and_copy():
    comp = hr.RULE_COMP([[[0, 1], rA], ["*", rB]])
    for clone in (pickle.loads(pickle.dumps(comp)), copy.deepcopy(comp)):
        assert type(clone) is hr.RULE_COMP and set(clone.complex_dict) == {"0", "1"}
        assert hr.get_rule(clone, "9") is clone.default_rule
