"""Gate rules: keyword routing, tracks laid end to end, alignment, options."""

import copy
import pickle
import types

import pytest

from halvane import brick
from halvane import rule as hr
from halvane import waveintent_enumeration as we
from halvane.waveintent import WaveIntent

# Durations in integer units keep every sum exact.
T = {"amp": 0, "width": 10, "plateau": 0, "vz": 0}
CP = {"pi": {"amp": 0.5, "width": 20, "plateau": 0, "phase_offs": 0}, "vz": 0.3}


def info(**lines):
    """Qubit information: marker -> line name, all on T and CP."""
    return {marker: {"nm": name, "pdt": T, "cp": CP} for marker, name in lines.items()}


def routing_rule():
    return hr.RULE(d0=[[WaveIntent(), WaveIntent()], [WaveIntent()]], z=[[WaveIntent()]])


def amps(lts):
    """The amps of the routing rule's pulses: d0 track 0 (two), d0 track 1, z."""
    (p00, p01), (p10,) = lts["L0"]
    ((z00,),) = lts["Lz"]
    return [p["amp"] for p in (p00, p01, p10, z00)]


@pytest.mark.parametrize(
    "kwds, expected",
    [
        ({}, [0, 0, 0, 0]),
        ({"amp": 1}, [1, 1, 1, 1]),
        ({"d0__amp": 1}, [1, 1, 1, 0]),
        ({"d0__1__amp": 1}, [0, 0, 1, 0]),
        ({"d0__0__1__amp": 1}, [0, 1, 0, 0]),
        ({"X__0__amp": 1}, [1, 1, 0, 1]),
        ({"X__X__0__amp": 1}, [1, 0, 1, 1]),
        ({"z__X__X__amp": 1}, [0, 0, 0, 1]),
        ({"q9__amp": 1, "d0__7__amp": 1}, [0, 0, 0, 0]),
        # Later keywords win, whatever level they were aimed at.
        ({"amp": 1, "d0__amp": 2}, [2, 2, 2, 1]),
        ({"d0__amp": 2, "amp": 1}, [1, 1, 1, 1]),
        ({"d0__0__amp": 3, "X__amp": 4}, [4, 4, 4, 4]),
        ({"X__amp": 4, "d0__0__amp": 3}, [3, 3, 4, 4]),
    ],
)
def test_keywords_are_routed_to_lines_tracks_and_pulses(kwds, expected):
    _, lts = routing_rule().semi_apply(info(d0="L0", z="Lz"), **kwds)
    assert amps(lts) == expected


def test_deeper_parts_reach_the_recipe_joined():
    _, lts = routing_rule().semi_apply(info(d0="L0", z="Lz"), d0__1__0__drag__scale=5)
    assert lts["L0"][1][0]["drag__scale"] == 5
    assert "drag__scale" not in lts["L0"][0][0] and "drag__scale" not in lts["Lz"][0][0]


def test_catch_is_called_line_then_track_then_pulse(monkeypatch):
    calls = []
    original = brick.catch

    def spy(kwds, w):
        calls.append((dict(kwds), w))
        return original(kwds, w)

    monkeypatch.setattr(brick, "catch", spy)
    routing_rule().semi_apply(info(d0="L0", z="Lz"), d0__1__amp=1)
    assert calls == [
        ({"d0__1__amp": 1}, "d0"),
        ({"1__amp": 1}, "0"), ({}, "0"), ({}, "1"),
        ({"1__amp": 1}, "1"), ({"amp": 1}, "0"),
        ({"d0__1__amp": 1}, "z"), ({}, "0"), ({}, "0"),
    ]


def test_tracks_are_laid_end_to_end():
    rule = hr.RULE(d0=[[we.X_p(), we.X_p(), we.I_p(plateau=5)]])
    max_duration, lts = rule.semi_apply(info(d0="q0_xy"))
    assert max_duration == 45
    assert [p["pos"] for p in lts["q0_xy"][0]] == [0, 20, 40]
    assert [p["amp"] for p in lts["q0_xy"][0]] == [0.5, 0.5, 0]


@pytest.mark.parametrize("align, x_pos, i_pos", [("left", 0, 0), ("right", 40, 0), ("center", 20.0, 0.0)])
def test_tracks_are_aligned_on_the_longest(align, x_pos, i_pos):
    rule = hr.RULE(d0=[[we.X_p()], [we.I_p(plateau=60)]], _align=align)
    max_duration, lts = rule.semi_apply(info(d0="q0_xy"))
    (x,), (i,) = lts["q0_xy"]
    assert max_duration == 60
    assert (x["pos"], i["pos"]) == (x_pos, i_pos)
    assert (type(x["pos"]), type(i["pos"])) == (type(x_pos), type(i_pos))
    # The reference is the longest track of the whole gate, across lines.
    rule = hr.RULE(d0=[[we.X_p()]], z=[[we.I_p(plateau=60)]], _align=align)
    _, lts = rule.semi_apply(info(d0="q0_xy", z="q0_z"))
    assert (lts["q0_xy"][0][0]["pos"], lts["q0_z"][0][0]["pos"]) == (x_pos, i_pos)


def test_zero_length_tracks_and_empty_rules():
    max_duration, lts = hr.RULE(d0=[[we.Vz_p(), we.I_p()], []]).semi_apply(info(d0="L"))
    assert max_duration == 0 and type(max_duration) is int
    assert [p["pos"] for p in lts["L"][0]] == [0, 0] and lts["L"][1] == []
    assert hr.RULE().semi_apply({}) == (0, {})
    assert hr.RULE(d0=[]).semi_apply(info(d0="L")) == (0, {"L": []})


@pytest.mark.parametrize("align, shifts", [("left", (0, 0, 0)), ("right", (0, 20, 10)), ("center", (0, 10.0, 5.0))])
def test_markers_on_one_line_name_keep_the_tracks_of_both(align, shifts):
    rule = hr.RULE(a=[[we.I_p(plateau=30)]], z=[[we.I_p(plateau=5)]], b=[[we.I_p(plateau=10), we.I_p(plateau=10)]],
                   _align=align)
    max_duration, lts = rule.semi_apply(info(a="L", b="L", z="M"))
    assert max_duration == 30 and list(lts) == ["L", "M"]
    a, b = shifts[0], shifts[2]
    assert lts["L"] == [[dict(T, width=0, plateau=30, pos=a)],
                        [dict(T, width=0, plateau=10, pos=b), dict(T, width=0, plateau=10, pos=b + 10)]]
    assert lts["M"] == [[dict(T, width=0, plateau=5, pos={"left": 0, "right": 25, "center": 12.5}[align])]]


def test_options_are_split_by_the_leading_underscore():
    tracks = [[we.X_p()]]
    rule = hr.RULE(d0=tracks, _note="n", z=[], _align="center")
    assert rule.kwds == {"_note": "n", "_align": "center"}
    assert list(rule.line_tracks) == ["d0", "z"] and rule.line_tracks["d0"] is tracks
    assert rule._align == "center"
    assert hr.RULE(d0=tracks, _note="n")._align == "left"
    assert list(vars(rule)) == ["kwds", "line_tracks", "_align"]
    with pytest.raises(TypeError):
        hr.RULE([[we.X_p()]])
    with pytest.raises(IndexError, match="string index out of range"):
        hr.RULE(**{"": []})


@pytest.mark.parametrize("value, text", [("top", "top"), ("middle", "middle"), (3, "3"), (None, "None")])
def test_invalid_alignment(value, text):
    with pytest.raises(AssertionError) as e:
        hr.RULE(d0=[[we.X_p()]], _align=value)
    assert str(e.value) == " Invalid alignment option " + text


@pytest.mark.parametrize(
    "make, args, kwds, error, match",
    [
        (lambda: routing_rule(), ({},), {}, KeyError, "d0"),
        (lambda: routing_rule(), ({"d0": {"nm": "L", "cp": {}}, "z": {}},), {}, KeyError, "pdt"),
        (lambda: routing_rule(), (info(d0="L0", z="Lz"),), {"d0__pdt": {}}, TypeError, "get_pd"),
        (lambda: hr.RULE(d0=[[WaveIntent()]]), ({"d0": {"nm": "L", "pdt": {"plateau": 0}, "cp": {}}},), {},
         KeyError, "width"),
        (lambda: hr.RULE(d0=[[we.X_p()]]), ({"d0": {"nm": "L", "pdt": T, "cp": {}}},), {}, KeyError, "pi"),
    ],
)
def test_failures_propagate(make, args, kwds, error, match):
    with pytest.raises(error, match=match):
        make().semi_apply(*args, **kwds)


def test_templates_and_calibration_are_only_read():
    t, cp = copy.deepcopy(T), copy.deepcopy(CP)
    rule = hr.RULE(d0=[[we.X_p(), we.Vz_p()]], z=[[we.I_p(plateau=60)]], _align="center")
    _, lts = rule.semi_apply(info(d0="L0", z="Lz"), amp=0.1)
    assert T == t and CP == cp
    assert all(p is not T for tracks in lts.values() for track in tracks for p in track)


def test_recipes_qubit_information_and_rules_as_python_objects(read_only_mapping):
    Mapping2 = read_only_mapping
    seen = []

    class Own(WaveIntent):
        def get_pd(self, pdt, cp={}, **kw):
            seen.append((pdt, cp, kw))
            return {"width": 3, "plateau": 4, "tag": "own"}

    class Duck:
        def get_pd(self, pdt, cp, **kw):
            return {"width": 1, "plateau": 0}

    qi = Mapping2({"d0": Mapping2({"nm": "L", "pdt": T, "cp": CP})})
    max_duration, lts = hr.RULE(d0=[[Own(), Duck()]]).semi_apply(qi, d0__0__0__amp=2)
    assert max_duration == 8
    assert lts == {"L": [[{"width": 3, "plateau": 4, "tag": "own", "pos": 0}, {"width": 1, "plateau": 0, "pos": 7}]]}
    assert seen[0][0] is T and seen[0][1] is CP and seen[0][2] == {"amp": 2}


def test_get_pd_is_looked_up_on_each_recipe_at_call_time(monkeypatch):
    # The rule calls WaveIntent's own get_pd directly only while a lookup finds it.
    calls = []
    x = we.X_p()
    x.get_pd = lambda pdt, cp, **kw: calls.append(("instance", kw)) or {"width": 1, "plateau": 0}
    lts = hr.RULE(d0=[[x]]).semi_apply(info(d0="L"), d0__0__0__amp=2)[1]
    assert lts == {"L": [[{"width": 1, "plateau": 0, "pos": 0}]]} and calls == [("instance", {"amp": 2})]
    original = WaveIntent.get_pd
    monkeypatch.setattr(WaveIntent, "get_pd", lambda self, pdt, cp, **kw: calls.append(("class", kw)) or
                        original(self, pdt, cp, **kw))
    assert hr.RULE(d0=[[we.X_p()]]).semi_apply(info(d0="L"), amp=0.25)[1]["L"][0][0]["amp"] == 0.25
    assert calls[-1] == ("class", {"amp": 0.25})
    monkeypatch.undo()
    with pytest.raises(TypeError, match="incompatible function arguments"):
        hr.RULE(d0=[[we.X_p()]]).semi_apply(info(d0="L"), cp=1)
    assert hr.RULE(d0=[[we.X_p()]]).semi_apply(info(d0="L"), kwds_=1)[1]["L"][0][0]["kwds_"] == 1


def test_a_template_copy_that_is_not_a_dict_is_updated_with_every_layer():
    updates = []

    class Described(dict):
        def update(self, other):
            updates.append(dict(other))
            dict.update(self, other)

    class Template(dict):
        def copy(self):
            return Described(self)

    hr.RULE(d0=[[we.I_p()]]).semi_apply({"d0": {"nm": "L", "pdt": Template(T), "cp": CP}})
    assert updates == [{}, {}]


def test_rebound_brick_and_move_track_are_honoured(monkeypatch):
    moves = []
    fake = types.SimpleNamespace(catch=brick.catch, pulse_duration=lambda pd: 2 * brick.pulse_duration(pd))
    monkeypatch.setattr(hr, "brick", fake)
    monkeypatch.setattr(hr, "move_track", lambda track, w: moves.append((len(track), w)))
    rule = hr.RULE(d0=[[WaveIntent()], [WaveIntent(), WaveIntent()]], _align="right")
    max_duration, lts = rule.semi_apply(info(d0="L"))
    assert max_duration == 40 and [p["pos"] for p in lts["L"][1]] == [0, 20]
    assert moves == [(1, 20), (2, 0)]
    monkeypatch.undo()
    assert rule.semi_apply(info(d0="L"))[1]["L"][0][0]["pos"] == 10


def test_move_track():
    track = [{"pos": 1}, {"pos": 2.5}]
    assert hr.move_track(track, 2) is None
    assert track == [{"pos": 3}, {"pos": 4.5}]
    with pytest.raises(KeyError, match="pos"):
        hr.move_track([{}], 1)


class Described:
    def describe(self):
        return "mixin"


class MixedRule(Described, hr.RULE):
    pass


def test_rules_behave_like_python_classes():
    rule = MixedRule(d0=[[we.X_p()]], _align="right")
    assert rule.describe() == "mixin" and brick.isit(rule, "RULE") and brick.m_isit(rule, "RULE")
    for clone in (pickle.loads(pickle.dumps(rule)), copy.copy(rule), copy.deepcopy(rule)):
        assert type(clone) is MixedRule and clone._align == "right"
        assert clone.semi_apply(info(d0="L"))[0] == 20
