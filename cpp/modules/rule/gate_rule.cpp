// RULE: one gate on given qubits becomes aligned tracks of pulse descriptions.
//
// A rule maps each local line marker ('d0', 'z', ...) to parallel tracks of
// recipes. semi_apply routes the gate's targeted keywords down to line,
// track and pulse with brick.catch, asks every recipe for its description
// (through get_pd, so a subclass's override is honoured), lays each track
// end to end from the gate's start, and aligns all tracks of the gate on its
// longest one.
#include "modules/rule/exports.hpp"
#include <vector>
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/calls.hpp"
#include "py/iterate.hpp"
#include "py/collaborators.hpp"
#include "py/objects.hpp"
#include "domain/pulses.hpp"
#include "domain/recipes.hpp"
#include "modules/rule/collaborators.hpp"

namespace halvane::rule {
namespace hp = halvane::py;
namespace hd = halvane::domain;
using hp::equals, hp::get_attr, hp::set_attr;

namespace {

void init(nb::handle self, nb::kwargs line_tracks) {
  nb::dict kwds, tracks;
  set_attr(self, HV_KEY("kwds"), kwds);
  set_attr(self, HV_KEY("line_tracks"), tracks);
  for (auto [k, v] : line_tracks) {
    // Options begin with "_"; an empty name has no first character to read.
    if (PyUnicode_GET_LENGTH(k.ptr()) == 0) hp::raise(PyExc_IndexError, "string index out of range");
    hp::setitem(PyUnicode_READ_CHAR(k.ptr(), 0) == '_' ? kwds : tracks, k, v);
  }
  set_attr(self, HV_KEY("_align"), HV_KEY("left"));
  if (!hp::contains(kwds, HV_KEY("_align"))) return;
  nb::object al = hp::getitem(kwds, HV_KEY("_align"));
  for (nb::handle option : {HV_KEY("left"), HV_KEY("right"), HV_KEY("center")}) {
    if (equals(option, al)) {
      set_attr(self, HV_KEY("_align"), al);
      return;
    }
  }
  nb::object text = hp::steal_or_throw(PyObject_Format(al.ptr(), nullptr));
  nb::object msg = hp::steal_or_throw(PyUnicode_Concat(HV_KEY(" Invalid alignment option ").ptr(), text.ptr()));
  PyErr_SetObject(PyExc_AssertionError, msg.ptr());
  nb::python_error e;
  hp::add_note(e, [] { return nb::str("_align must be 'left', 'right' or 'center'"); });
  throw e;
}

/// max(a, b) as the builtin computes it: b only when b > a.
nb::object builtin_max(nb::handle a, nb::handle b) { return nb::borrow(hd::greater(b, a) ? b : a); }

/// recipe.get_pd(pdt, cp, **kwds); `kwds` may be empty for none.
nb::object recipe_pd(nb::handle recipe, nb::handle pdt, nb::handle cp, nb::handle kwds) {
  if (kwds.is_valid() && !hp::plain_keywords(kwds)) return hp::call_method_kw(recipe, HV_KEY("get_pd"), {pdt, cp}, kwds);
  // As for any call with **kwds, the callee gets a copy of the keywords.
  nb::object kw = kwds.is_valid() && PyDict_GET_SIZE(kwds.ptr()) ? hp::steal_or_throw(PyDict_Copy(kwds.ptr()))
                                                                 : nb::object();
  hp::Method get_pd = hp::find_method(recipe, HV_KEY("get_pd"));
  if (get_pd.unbound && hd::calls_pulse_description(get_pd.f, kw)) return hd::pulse_description(recipe, pdt, cp, kw);
  return hp::call_found(get_pd, recipe, {pdt, cp}, kw);
}

/// Where semi_apply is in the rule's tracks: the indices are all the success
/// path keeps; the note on an error that passes is built from them.
struct Place {
  Py_ssize_t track = -1, pulse = -1;
};

/// One track laid end to end: the descriptions and the track's duration.
nb::object lay_track(nb::handle track, nb::handle pdt, nb::handle cp, nb::handle track_kwds,
                     nb::list &ret_track, Place &at) {
  nb::object duration = nb::int_(0);
  at.pulse = -1;
  hp::for_each(track, [&](nb::handle recipe) {
    nb::object pulse_kwds = route_index(track_kwds, ++at.pulse);
    nb::object pd = recipe_pd(recipe, pdt, cp, pulse_kwds);
    nb::object pulse_duration_ = pulse_duration(pd);
    hp::setitem(pd, HV_KEY("pos"), duration);
    ret_track.append(pd);
    duration = hd::inplace_add(duration, pulse_duration_);
  });
  return duration;
}

/// The durations of a line's tracks, kept beside line_tracks in the order of
/// its keys: only alignment reads them, so they are no Python containers.
using Durations = std::vector<std::vector<nb::object>>;

/// Move every track so that it ends at (right) or is centred on (center) the
/// gate's longest track.
void align(nb::handle how, nb::handle max_duration, nb::handle line_tracks, const Durations &durations) {
  bool right = equals(how, HV_KEY("right"));
  if (!right && !equals(how, HV_KEY("center"))) return;
  nb::object two = nb::int_(2);
  std::size_t line = 0;
  hp::for_items(line_tracks, [&](nb::handle, nb::handle tracks) {
    const std::vector<nb::object> &tdurs = durations[line++];
    std::size_t ti = 0;
    hp::for_each(tracks, [&](nb::handle track) {
      nb::handle tdur = tdurs[ti++];
      nb::object shift = hd::subtract(max_duration, tdur);
      if (!right) shift = hp::steal_or_throw(PyNumber_TrueDivide(shift.ptr(), two.ptr()));
      move_track(track, shift);
    });
  });
}

/// "while applying RULE at marker 'd0', track #1, pulse #0 (recipe X_p)", and
/// the markers the qubit information has when it lacks this one.
void note_place(const nb::python_error &e, nb::handle self, nb::handle its_qubit_info, nb::handle marker,
                nb::handle tracks, const Place &at) noexcept {
  hp::add_note(e, [&] {
    nb::object text = hp::steal_or_throw(PyUnicode_FromFormat("while applying %s at marker %R",
                                                              Py_TYPE(self.ptr())->tp_name, marker.ptr()));
    if (at.track >= 0) text = hp::steal_or_throw(PyUnicode_FromFormat("%U, track #%zd", text.ptr(), at.track));
    if (at.pulse < 0) return text;
    text = hp::steal_or_throw(PyUnicode_FromFormat("%U, pulse #%zd", text.ptr(), at.pulse));
    // The recipe's class, when the tracks can be indexed.
    nb::object track = nb::steal(PySequence_GetItem(tracks.ptr(), at.track));
    nb::object recipe = track.is_valid() ? nb::steal(PySequence_GetItem(track.ptr(), at.pulse)) : nb::object();
    if (!recipe.is_valid()) {
      PyErr_Clear();
      return text;
    }
    return hp::steal_or_throw(PyUnicode_FromFormat("%U (recipe %s)", text.ptr(), Py_TYPE(recipe.ptr())->tp_name));
  });
  hp::add_note(e, [&]() -> nb::object {
    if (!e.matches(PyExc_KeyError) || !PyDict_Check(its_qubit_info.ptr()) ||
        PyDict_Contains(its_qubit_info.ptr(), marker.ptr()) != 0)
      return {};
    nb::object keys = hp::steal_or_throw(PyDict_Keys(its_qubit_info.ptr()));
    return hp::steal_or_throw(PyUnicode_FromFormat("the qubit information has no marker %R; its markers are %R",
                                                   marker.ptr(), keys.ptr()));
  });
}

nb::object semi_apply(nb::handle self, nb::handle its_qubit_info, nb::kwargs targeted_kwds) {
  nb::dict line_tracks;
  Durations durations;
  nb::object max_duration = nb::int_(0);
  Place at;
  auto each_line = [&](nb::handle line, nb::handle tracks) {
    // its_qubit_info[line] is read once per key; for a dict that is the same
    // entry each time, so it is looked up once.
    nb::object entry = hp::getitem(its_qubit_info, line);
    auto line_info = [&] {
      return PyDict_CheckExact(its_qubit_info.ptr()) ? entry : hp::getitem(its_qubit_info, line);
    };
    nb::object line_name = hp::getitem(entry, HV_KEY("nm"));
    nb::object pdt = hp::getitem(line_info(), HV_KEY("pdt"));
    nb::object cp = hp::getitem(line_info(), HV_KEY("cp"));
    nb::object line_kwds = route(targeted_kwds, line);
    nb::list ret_tracks;
    std::vector<nb::object> tracks_duration;
    Py_ssize_t i = 0;
    hp::for_each(tracks, [&](nb::handle track) {
      at = Place{i};
      nb::object track_kwds = route_index(line_kwds, i++);
      nb::list ret_track;
      nb::object track_duration = lay_track(track, pdt, cp, track_kwds, ret_track, at);
      ret_tracks.append(ret_track);
      max_duration = builtin_max(max_duration, track_duration);
      tracks_duration.push_back(std::move(track_duration));
    });
    // Two markers of one line keep the tracks of both, the earlier's first.
    PyObject *earlier = PyDict_GetItemWithError(line_tracks.ptr(), line_name.ptr());
    if (!earlier && PyErr_Occurred()) hp::rethrow();
    if (earlier) {
      ret_tracks = nb::steal<nb::list>(hp::steal_or_throw(PySequence_Concat(earlier, ret_tracks.ptr())).release());
      // The line's durations sit at its key's place among line_tracks' keys.
      std::size_t place = 0;
      Py_ssize_t pos = 0;
      PyObject *key, *value;
      while (PyDict_Next(line_tracks.ptr(), &pos, &key, &value) && value != earlier) ++place;
      std::vector<nb::object> &kept = durations[place];
      kept.insert(kept.end(), std::make_move_iterator(tracks_duration.begin()),
                  std::make_move_iterator(tracks_duration.end()));
    } else {
      durations.push_back(std::move(tracks_duration));
    }
    hp::setitem(line_tracks, line_name, ret_tracks);
  };
  hp::for_items(get_attr(self, HV_KEY("line_tracks")), [&](nb::handle line, nb::handle tracks) {
    at = Place{};
    try {
      each_line(line, tracks);
    } catch (nb::python_error &e) {
      note_place(e, self, its_qubit_info, line, tracks, at);
      throw;
    }
  });
  if (PyDict_GET_SIZE(line_tracks.ptr()) != 0)
    align(get_attr(self, HV_KEY("_align")), max_duration, line_tracks, durations);
  return nb::make_tuple(max_duration, line_tracks);
}

/// semi_apply for callers that skip the binding.
nb::object semi_apply_native(nb::handle self, nb::handle its_qubit_info, nb::handle, nb::handle targeted_kwds) {
  return semi_apply(self, its_qubit_info, nb::borrow<nb::kwargs>(targeted_kwds));
}

}  // namespace

void export_gate_rule(nb::module_ &m) {
  nb::object cls = hp::make_class(
      m, "RULE", nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(&PyBaseObject_Type))),
      "How one gate becomes pulses: tracks of recipes per local line marker.\n\n"
      "``RULE(d0=[[X_p(), I_p()], [Vz_p()]], _align='center')`` declares two\n"
      "tracks on the marker ``'d0'``. Keywords beginning with ``'_'`` are\n"
      "options (stored in ``kwds``); the one read is ``_align``: ``'left'``\n"
      "(tracks start together, the default), ``'right'`` (they end together)\n"
      "or ``'center'`` (they share a centre). Every other keyword is a marker\n"
      "and its list of tracks goes into ``line_tracks``.");
  cls.attr("__maj_type__") = "RULE";
  cls.attr("__mnr_type__") = "RULE";
  hp::def_method(cls, "__init__", &init, hp::arg("line_tracks"),
                 nb::sig("def __init__(self, **line_tracks: typing.Any) -> None"),
                 "Split the keywords into options and line tracks.\n\n"
                 "Raises\n------\nAssertionError\n"
                 "    When ``_align`` is not ``'left'``, ``'right'`` or ``'center'``.");
  hp::def_method(
      cls, "semi_apply", &semi_apply, hp::arg("its_qubit_info"), hp::arg("targeted_kwds"),
      nb::sig("def semi_apply(self, its_qubit_info: halvane.records.QubitInfoLike, "
              "**targeted_kwds: typing.Any) -> tuple[typing.Any, dict[str, list[list[dict]]]]"),
      "Turn the gate into aligned tracks of new pulse descriptions.\n\n"
      "Keywords are routed with ``brick.catch`` first to the marker, then to\n"
      "the track's index, then to the pulse's index (``'d0__1__0__amp'``; the\n"
      "wildcard ``'X'`` matches any); what remains goes to the recipe's\n"
      "``get_pd``. Each track is laid end to end from 0, then the tracks are\n"
      "aligned on the gate's longest track, across all lines. Markers that name\n"
      "the same line give it the tracks of all of them, in marker order.\n\n"
      "Parameters\n----------\n"
      "its_qubit_info : mapping\n"
      "    Marker -> ``{'nm': line name, 'pdt': template, 'cp': calibration}``.\n"
      "**targeted_kwds\n    The gate's keywords.\n\n"
      "Returns\n-------\ntuple\n"
      "    ``(max_duration, line_tracks)``: the longest track's duration, and a\n"
      "    new dict from line name to tracks of descriptions whose ``pos`` is\n"
      "    relative to the gate's start.");
  PyObject *fn = PyDict_GetItemString(reinterpret_cast<PyTypeObject *>(cls.ptr())->tp_dict, "semi_apply");
  hp::offer_native("RULE.semi_apply", fn, &semi_apply_native);
}

void export_move_track(nb::module_ &m) {
  m.def("move_track", &hd::move_track, hp::arg("track"), hp::arg("w"),
        nb::sig("def move_track(track: typing.Iterable[dict], w: typing.Any) -> None"),
        "Add ``w`` to the ``pos`` of every pulse description of ``track``, in place.");
}

}  // namespace halvane::rule
