"""The base recipe: template < will < class keywords < call keywords."""

import copy
import pickle
import weakref

import pytest

from halvane import brick
from halvane.waveintent import WaveIntent


class PhaseRecipe(WaveIntent):
    def will(self, w, cp):
        w["phase"] = cp["phase"]


class Mixin:
    def describe(self):
        return "mixin"


class Mixed(Mixin, PhaseRecipe):
    pass


def test_template_is_copied_not_changed():
    pdt = {"amp": 1, "width": 1e-8}
    pd = WaveIntent().get_pd(pdt)
    assert pd == pdt and pd is not pdt
    pd["amp"] = 5
    assert pdt == {"amp": 1, "width": 1e-8}


@pytest.mark.parametrize(
    "recipe, call_kw, expected",
    [
        (WaveIntent(amp=0.2), {"amp": 0.7}, {"amp": 0.7, "phase": 3}),
        (WaveIntent(amp=0.2), {}, {"amp": 0.2, "phase": 3}),
        (WaveIntent(plateau=0), {}, {"amp": 1, "phase": 3, "plateau": 0}),
        (PhaseRecipe(), {}, {"amp": 1, "phase": 9}),
        (PhaseRecipe(phase=1), {}, {"amp": 1, "phase": 1}),
        (PhaseRecipe(phase=1), {"phase": 2}, {"amp": 1, "phase": 2}),
        (Mixed(amp=4), {"extra": True}, {"amp": 4, "phase": 9, "extra": True}),
    ],
)
def test_four_layers(recipe, call_kw, expected):
    pdt = {"amp": 1, "phase": 3}
    assert recipe.get_pd(pdt, {"phase": 9}, **call_kw) == expected
    assert pdt == {"amp": 1, "phase": 3}


def test_kw_is_the_constructor_keywords_and_an_instance_attribute():
    r = WaveIntent(amp=0.3, width=2e-8)
    assert r.kw == {"amp": 0.3, "width": 2e-8}
    assert vars(r) == {"kw": {"amp": 0.3, "width": 2e-8}}
    r.kw["amp"] = 0.5
    assert r.get_pd({}) == {"amp": 0.5, "width": 2e-8}


def test_arguments_by_name_and_default_cp():
    assert WaveIntent().get_pd(pdt={"a": 1}, cp={}, b=2) == {"a": 1, "b": 2}
    seen = []

    class Spy(WaveIntent):
        def will(self, w, cp):
            seen.append(cp)

    Spy().get_pd({})
    Spy(amp=1).get_pd({})
    assert seen[0] == {} and seen[0] is seen[1]


@pytest.mark.parametrize(
    "call",
    [lambda: WaveIntent(1), lambda: WaveIntent().get_pd(), lambda: WaveIntent().get_pd({}, {}, {}),
     lambda: WaveIntent().will({}), lambda: WaveIntent().get_pd({}, pdt={})],
)
def test_wrong_argument_count(call):
    with pytest.raises(TypeError):
        call()


def test_failures_propagate():
    with pytest.raises(AttributeError):
        WaveIntent().get_pd(3)
    with pytest.raises(KeyError, match="phase"):
        PhaseRecipe().get_pd({}, {})


def test_overrides_are_honoured_on_the_class_and_the_instance():
    r = PhaseRecipe()
    r.will = lambda w, cp: w.update(own=1)
    assert r.get_pd({}, {}) == {"own": 1}
    assert Mixed().describe() == "mixin"


def test_non_dict_template_goes_through_its_methods():
    class Template(dict):
        def copy(self):
            return Template(self, copied=True)

    pd = WaveIntent(amp=2).get_pd(Template(amp=1))
    assert type(pd) is Template and pd == {"amp": 2, "copied": True}


def test_tags_and_python_class_behaviour():
    assert WaveIntent.__maj_type__ == WaveIntent.__mnr_type__ == "WaveIntent"
    assert brick.isit(Mixed(), "WaveIntent")
    r = Mixed(amp=0.3)
    assert weakref.ref(r)() is r
    for clone in (pickle.loads(pickle.dumps(r)), copy.copy(r), copy.deepcopy(r)):
        assert type(clone) is Mixed and clone.kw == {"amp": 0.3}
        assert clone.get_pd({}, {"phase": 1}) == {"amp": 0.3, "phase": 1}


def test_docstrings():
    assert "class keywords" in WaveIntent.__doc__
    assert "Parameters" in WaveIntent.get_pd.__doc__
