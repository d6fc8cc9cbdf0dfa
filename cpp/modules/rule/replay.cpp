// Replays of RULE.semi_apply, kept in a table of records, one per call
// (rule, qubit information and keyword objects).
#include "modules/rule/replay.hpp"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "modules/rule/collaborators.hpp"
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/collaborators.hpp"
#include "py/mapping.hpp"
#include "py/compat.hpp"
#include "domain/recipes.hpp"

namespace halvane::rule {
namespace hp = halvane::py;
namespace hd = halvane::domain;

/// One call: what it read, and copies of what it returned. A record without
/// copies says that the call may not be replayed while its dicts are unchanged.
struct Record {
  struct Dict {
    PyObject *d;
    std::uint64_t version;
  };
  /// A list or tuple of tracks, or of recipes, and what it held.
  struct Seq {
    PyObject *seq;
    PyTypeObject *type;
    std::vector<PyObject *> items;
  };
  struct Recipe {
    PyObject *obj;
    PyTypeObject *type;
    unsigned int tag;  ///< the type's version tag: it moves when the class or a base changes
    PyObject *get_pd, *will;
    Dict kw;
  };
  struct Line {
    nb::object name;
    std::vector<std::vector<nb::object>> tracks;  ///< the descriptions, copied when replayed
  };

  std::uint64_t used = 0;  ///< when it was last made or replayed
  PyObject *rule = nullptr, *info = nullptr, *line_tracks = nullptr;
  /// The call's keywords in order; held, so that the same objects mean the same values.
  std::vector<std::pair<nb::object, nb::object>> kwds;
  bool replayable = false;
  int align = 0;
  /// Checked in order, each reached from an argument or from one checked before it.
  std::vector<Dict> dicts;
  std::vector<Seq> seqs;  ///< the lists of tracks, each followed by its tracks
  std::vector<Recipe> recipes;
  nb::object max_duration;
  std::vector<Line> lines;
  /// Every object above that the record names by address, held so that no
  /// other object can take the address while the record exists.
  std::vector<nb::object> held;
};

namespace {

using Dict = Record::Dict;
using Seq = Record::Seq;
using Line = Record::Line;

PyTypeObject *rule_type = nullptr;
bool replaying = true;
std::uint64_t replays = 0;  ///< results handed out again, for tests
std::uint64_t clock = 0;

// ---- the table ----------------------------------------------------------

constexpr unsigned slot_bits = 12;

std::uint64_t mix(std::uint64_t h, const void *p) {
  return (h ^ (reinterpret_cast<std::uintptr_t>(p) >> 4)) * 0x9E3779B97F4A7C15ull;
}

/// The two slots where the record of a call may be.
std::pair<Record *, Record *> slots(PyObject *rule, PyObject *info, PyObject *kwds) {
  // Made once and never freed: its references must not be dropped after the
  // interpreter has gone.
  static auto *table = new std::vector<Record>(std::size_t{1} << slot_bits);
  std::uint64_t h = mix(mix(0, rule), info);
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(kwds, &pos, &k, &v)) h = mix(mix(h, k), v);
  std::size_t i = (h * 0xC2B2AE3D27D4EB4Full) >> (64 - slot_bits);
  return {&(*table)[i], &(*table)[i ^ 1]};
}

bool same_call(const Record &rec, PyObject *rule, PyObject *info, PyObject *kwds) {
  if (rec.rule != rule || rec.info != info) return false;
  if (static_cast<std::size_t>(PyDict_GET_SIZE(kwds)) != rec.kwds.size()) return false;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  for (const auto &[key, value] : rec.kwds) {
    PyDict_Next(kwds, &pos, &k, &v);
    if (k != key.ptr() || v != value.ptr()) return false;
  }
  return true;
}

Record *find(PyObject *rule, PyObject *info, PyObject *kwds) {
  auto [first, second] = slots(rule, info, kwds);
  if (same_call(*first, rule, info, kwds)) return first;
  if (same_call(*second, rule, info, kwds)) return second;
  return nullptr;
}

/// Put `rec` in its call's own slot if it has one, else in the one left longer unused.
void store(Record &&rec, PyObject *kwds) {
  rec.used = ++clock;
  Record *to = find(rec.rule, rec.info, kwds);
  if (!to) {
    auto [first, second] = slots(rec.rule, rec.info, kwds);
    to = second->used < first->used ? second : first;
  }
  *to = std::move(rec);
}

// ---- what may be read ---------------------------------------------------

/// A value no arithmetic or comparison can run code for or return a mutable result from.
bool plain(PyObject *v) {
  PyTypeObject *t = Py_TYPE(v);
  return t == &PyFloat_Type || t == &PyLong_Type || t == &PyUnicode_Type || t == &PyBool_Type ||
         t == &PyComplex_Type || v == Py_None;
}

bool any(PyObject *) { return true; }

/// An exact dict whose keys are exact strs (so that no lookup runs code) and
/// whose values pass `ok`.
template <typename Ok>
bool plain_dict(PyObject *d, Ok ok) {
  if (!PyDict_CheckExact(d)) return false;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(d, &pos, &k, &v))
    if (!PyUnicode_CheckExact(k) || !ok(v)) return false;
  return true;
}

Dict watch(PyObject *d) {
  hp::compat::watch_dict(d);
  return {d, hp::compat::dict_stamp(d)};
}

bool unchanged(const Dict &d) { return hp::compat::dict_stamp(d.d) == d.version; }

/// plain_dict(d, ok), with an exact dict watched first: while it is
/// unchanged, so is the answer.
template <typename Ok>
bool watched_dict(Record &rec, PyObject *d, Ok ok) {
  if (!PyDict_CheckExact(d)) return false;
  rec.held.push_back(nb::borrow(d));
  rec.dicts.push_back(watch(d));
  return plain_dict(d, ok);
}

/// How _align aligns: 0 left (any text but the two others), 1 right, 2 center; -1 for a non-str.
int align_mode(PyObject *al) {
  if (al == HV_KEY("left").ptr()) return 0;
  if (!PyUnicode_CheckExact(al)) return -1;
  if (PyUnicode_Compare(al, HV_KEY("right").ptr()) == 0) return 1;
  if (PyUnicode_Compare(al, HV_KEY("center").ptr()) == 0) return 2;
  return 0;
}

// ---- recording ----------------------------------------------------------

/// Watch the qubit information of one line; false when it may not be replayed.
bool record_line(Record &rec, PyObject *entry) {
  if (!watched_dict(rec, entry, any)) return false;
  PyObject *nm = PyDict_GetItem(entry, HV_KEY("nm").ptr());
  PyObject *pdt = PyDict_GetItem(entry, HV_KEY("pdt").ptr());
  PyObject *cp = PyDict_GetItem(entry, HV_KEY("cp").ptr());
  if (!nm || !pdt || !cp || !PyUnicode_CheckExact(nm) || !watched_dict(rec, pdt, plain)) return false;
  if (!watched_dict(rec, cp, [](PyObject *v) { return plain(v) || PyDict_CheckExact(v); })) return false;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(cp, &pos, &k, &v))
    if (PyDict_CheckExact(v) && !watched_dict(rec, v, plain)) return false;
  return true;
}

/// Record the tracks of one line and their recipes; false when one may not be replayed.
bool record_tracks(Record &rec, PyObject *tracks) {
  auto sequence = [&](PyObject *s) {
    if (!PyList_CheckExact(s) && !PyTuple_CheckExact(s)) return false;
    PyObject **items = PySequence_Fast_ITEMS(s);
    rec.seqs.push_back({s, Py_TYPE(s), {items, items + PySequence_Fast_GET_SIZE(s)}});
    rec.held.push_back(nb::borrow(s));  // which holds its items
    return true;
  };
  if (!sequence(tracks)) return false;
  std::vector<PyObject *> track_list = rec.seqs.back().items;
  for (PyObject *track : track_list) {
    if (!sequence(track)) return false;
    for (PyObject *recipe : rec.seqs.back().items) {
      PyTypeObject *t = Py_TYPE(recipe);
      hp::NativeRecipe native = hp::find_recipe(t);
      if (!native.will || !native.guard()) return false;
      hp::Method get_pd = hp::find_method(recipe, HV_KEY("get_pd"));
      if (!get_pd.unbound || !hd::calls_pulse_description(get_pd.f, {})) return false;
      hp::Method will = hp::find_method(recipe, HV_KEY("will"));
      if (!will.unbound || will.f.ptr() != native.will) return false;
      nb::object kw = hp::getattr_or_null(recipe, HV_KEY("kw"));
      if (!kw.is_valid() || !plain_dict(kw.ptr(), plain)) return false;
      if (hp::compat::type_version(t) == 0) return false;
      rec.held.insert(rec.held.end(), {nb::borrow(recipe), kw, get_pd.f, will.f});
      rec.recipes.push_back({recipe, t, hp::compat::type_version(t), get_pd.f.ptr(), will.f.ptr(), watch(kw.ptr())});
      if (rec.dicts.back().d != native.globals) rec.dicts.push_back(watch(native.globals));
    }
  }
  return true;
}

enum class Outcome {
  replayable,
  never,   ///< not while the recorded dicts are unchanged
  not_now  ///< not this time
};

/// Record what the call about to be made reads.
Outcome prepare(Record &rec, nb::handle self, PyObject *info, PyObject *kwds) {
  if (Py_TYPE(self.ptr()) != rule_type || !collaborators_original()) return Outcome::not_now;
  nb::object lt = hp::getattr_or_null(self, HV_KEY("line_tracks"));
  nb::object al = hp::getattr_or_null(self, HV_KEY("_align"));
  if (!lt.is_valid() || !al.is_valid() || !PyDict_CheckExact(lt.ptr()) || !PyDict_CheckExact(info))
    return Outcome::not_now;
  rec.rule = self.ptr();
  rec.info = info;
  rec.line_tracks = lt.ptr();
  rec.held.insert(rec.held.end(), {nb::borrow(self), nb::borrow(info), lt});
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(kwds, &pos, &k, &v)) rec.kwds.emplace_back(nb::borrow(k), nb::borrow(v));
  // From here on, a refusal that only the watched dicts decide lasts as long as they do.
  if (!watched_dict(rec, lt.ptr(), any) || !watched_dict(rec, info, any) || !plain_dict(kwds, plain) ||
      PyDict_GET_SIZE(lt.ptr()) == 0)
    return Outcome::never;
  pos = 0;
  while (PyDict_Next(lt.ptr(), &pos, &k, &v)) {
    PyObject *entry = PyDict_GetItem(info, k);
    if (!entry || !record_line(rec, entry)) return Outcome::never;
  }
  rec.align = align_mode(al.ptr());
  if (rec.align < 0) return Outcome::not_now;
  pos = 0;
  while (PyDict_Next(lt.ptr(), &pos, &k, &v))
    if (!record_tracks(rec, v)) return Outcome::not_now;
  return Outcome::replayable;
}

/// Copies of the result's descriptions; false when it holds anything else.
bool record_result(Record &rec, PyObject *result) {
  if (!PyTuple_CheckExact(result) || PyTuple_GET_SIZE(result) != 2) return false;
  PyObject *max_duration = PyTuple_GET_ITEM(result, 0), *out = PyTuple_GET_ITEM(result, 1);
  if (!plain(max_duration) || !PyDict_CheckExact(out)) return false;
  rec.max_duration = nb::borrow(max_duration);
  Py_ssize_t pos = 0;
  PyObject *name, *tracks;
  while (PyDict_Next(out, &pos, &name, &tracks)) {
    if (!PyUnicode_CheckExact(name) || !PyList_CheckExact(tracks)) return false;
    Line line{nb::borrow(name), {}};
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(tracks); ++i) {
      PyObject *track = PyList_GET_ITEM(tracks, i);
      if (!PyList_CheckExact(track)) return false;
      std::vector<nb::object> pds;
      for (Py_ssize_t j = 0; j < PyList_GET_SIZE(track); ++j) {
        PyObject *pd = PyList_GET_ITEM(track, j);
        if (!plain_dict(pd, plain)) return false;
        pds.push_back(hp::steal_or_throw(PyDict_Copy(pd)));
      }
      line.tracks.push_back(std::move(pds));
    }
    rec.lines.push_back(std::move(line));
  }
  return true;
}

// ---- replaying ----------------------------------------------------------

bool same_items(const Seq &s) {
  if (Py_TYPE(s.seq) != s.type) return false;
  PyObject **items = PySequence_Fast_ITEMS(s.seq);
  if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(s.seq)) != s.items.size()) return false;
  for (std::size_t i = 0; i < s.items.size(); ++i)
    if (items[i] != s.items[i]) return false;
  return true;
}

bool same_recipe(const Record::Recipe &r) {
  PyTypeObject *t = Py_TYPE(r.obj);
  if (t != r.type || r.tag == 0 || hp::compat::type_version(t) != r.tag) return false;
  // The instance may have its own get_pd, will or kw by now.
  hp::Method get_pd = hp::find_method(r.obj, HV_KEY("get_pd"));
  if (!get_pd.unbound || get_pd.f.ptr() != r.get_pd) return false;
  hp::Method will = hp::find_method(r.obj, HV_KEY("will"));
  if (!will.unbound || will.f.ptr() != r.will) return false;
  nb::object kw = hp::getattr_or_null(r.obj, HV_KEY("kw"));
  return kw.ptr() == r.kw.d && unchanged(r.kw);
}

/// Whether the record still describes the call: for a refusal, its dicts
/// are unchanged; for a result, everything it read is as it was.
bool still_holds(const Record &rec, nb::handle self) {
  nb::object lt = hp::getattr_or_null(self, HV_KEY("line_tracks"));
  if (lt.ptr() != rec.line_tracks) return false;
  for (const Dict &d : rec.dicts)
    if (!unchanged(d)) return false;
  if (!rec.replayable) return true;
  if (Py_TYPE(self.ptr()) != rule_type || !collaborators_original()) return false;
  nb::object al = hp::getattr_or_null(self, HV_KEY("_align"));
  if (!al.is_valid() || align_mode(al.ptr()) != rec.align) return false;
  for (const Seq &s : rec.seqs)
    if (!same_items(s)) return false;
  for (const Record::Recipe &r : rec.recipes)
    if (!same_recipe(r)) return false;
  return true;
}

nb::object copy_list(const std::vector<nb::object> &pds) {
  nb::object l = hp::steal_or_throw(PyList_New(static_cast<Py_ssize_t>(pds.size())));
  for (std::size_t i = 0; i < pds.size(); ++i)
    PyList_SET_ITEM(l.ptr(), static_cast<Py_ssize_t>(i), hp::steal_or_throw(PyDict_Copy(pds[i].ptr())).release().ptr());
  return l;
}

nb::object replay(Record &rec) {
  nb::dict out;
  for (const Line &line : rec.lines) {
    nb::object tracks = hp::steal_or_throw(PyList_New(static_cast<Py_ssize_t>(line.tracks.size())));
    for (std::size_t i = 0; i < line.tracks.size(); ++i)
      PyList_SET_ITEM(tracks.ptr(), static_cast<Py_ssize_t>(i), copy_list(line.tracks[i]).release().ptr());
    hp::setitem(out, line.name, tracks);
  }
  rec.used = ++clock;
  ++replays;
  return nb::make_tuple(rec.max_duration, out);
}

}  // namespace

void init_replay(nb::module_ &m, nb::handle type) {
  rule_type = reinterpret_cast<PyTypeObject *>(type.ptr());
  // HALVANE_NO_REPLAY set (to anything but "" or "0") when the module is
  // imported turns replays off, for comparison and for tests run both ways.
  const char *off = std::getenv("HALVANE_NO_REPLAY");
  replaying = !(off && *off && std::strcmp(off, "0") != 0);
  m.def("_replaying", [] { return replaying; }, nb::sig("def _replaying() -> bool"),
        "Whether rules replay earlier results (off when HALVANE_NO_REPLAY was set at import).");
  m.def("_replay_count", [] { return replays; }, nb::sig("def _replay_count() -> int"),
        "Testing aid: how many results rules have replayed so far in this process.");
}

Recording::Recording(nb::handle self, nb::handle its_qubit_info, nb::handle kwds) : kwds_(kwds) {
  if (!replaying) return;
  PyObject *info = its_qubit_info.ptr();
  try {
    if (Record *found = find(self.ptr(), info, kwds.ptr()); found && still_holds(*found, self)) {
      if (found->replayable) replayed_ = replay(*found);
      return;
    }
    // Taken before the call: when it may be replayed, nothing but this
    // package's code runs in it, so nothing it reads changes meanwhile.
    rec_ = std::make_unique<Record>();
    switch (prepare(*rec_, self, info, kwds.ptr())) {
      case Outcome::replayable:
        return;
      case Outcome::never:
        store(std::move(*rec_), kwds.ptr());
        break;
      case Outcome::not_now:
        break;
    }
  } catch (nb::python_error &) {
    // Not to be replayed; the call meets the error itself, if it is one.
  }
  rec_.reset();
}

Recording::~Recording() = default;

void Recording::keep(nb::handle result) {
  if (!rec_) return;
  try {
    if (!record_result(*rec_, result.ptr())) return;
  } catch (nb::python_error &) {
    return;
  }
  rec_->replayable = true;
  store(std::move(*rec_), kwds_.ptr());
  rec_.reset();
}

}  // namespace halvane::rule
