// Frames: the virtual-Z phases that the recipes write into `vz`, folded into
// the pulses that follow them on the same frame.
//
// The pass copies each description and reads its start, end and `vz` from
// the copy. Once every line of a frame has been read, it orders the frame's
// increments in time, keeps the frame's running phase, and turns the copies
// of the pulses that start after an increment. A line that is a frame of its
// own is so turned right after it is read, while its copies are still in
// the cache. Everything handed back is new; the caller's lines and
// descriptions are only read.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/compat.hpp"
#include "py/dict_fields.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;

namespace {

/// An increment is in effect for a pulse that starts at most this long
/// before it: schedule arithmetic leaves sums of a few ulps off.
constexpr double kTolerance = 1e-12;

/// The keys of a description that the fold reads.
enum Field : std::size_t { kPos, kWidth, kPlateau, kVz, kFreq, kPhase1, kEdgeShape, kFramePhase, kFieldCount };
using Fields = hp::DictFields<kFieldCount>;
const std::array<const char *, kFieldCount> kFieldNames = {"pos",    "width",      "plateau",    "vz",
                                                           "freq",   "phase1",     "edge_shape", "frame_phase"};

/// One description, as the fold reads it.
struct Entry {
  double start = 0, end = 0, vz = 0;
  bool turnable = false;      ///< a pulse with a carrier: no edge_shape, freq not 0
  long event = -1;            ///< its increment's place in its frame's list, or -1
  PyObject *phase1 = nullptr; ///< borrowed from the copy, which holds it until the turn
};

struct Line {
  nb::object name, pds;
  std::vector<nb::object> copies;  ///< a new dict per description, turned in place
  std::vector<Entry> entries;
  std::size_t frame = 0;  ///< index of the line whose frame this line turns with
  double sign = 1.0;
};

/// An increment: where it is written and when it takes effect.
struct Event {
  double time, vz, after = 0;
  std::size_t line, entry;
  std::size_t place = 0;  ///< its place in its frame's list
};

[[noreturn]] void raise_value(PyObject *message) {
  nb::object held = nb::steal(message);
  if (!held.is_valid()) hp::rethrow();
  PyErr_SetObject(PyExc_ValueError, held.ptr());
  hp::rethrow();
}

/// `v` as a double, when it is a real number (int, float, numpy's real
/// scalars, any numbers.Real); TypeError naming `key` otherwise, complex
/// values included (their imaginary part would be dropped without a word).
/// `foreign` counts the values read by code other than the interpreter's own.
double real(PyObject *o, const char *key, std::size_t &foreign) {
  if (PyFloat_Check(o)) return PyFloat_AS_DOUBLE(o);
  if (!PyLong_CheckExact(o)) ++foreign;
  bool is_real = PyLong_Check(o);
  if (!is_real && !PyComplex_Check(o) && !PyUnicode_Check(o) && !PyBytes_Check(o)) {
    static PyObject *real_type = [] {
      nb::object numbers = hp::steal_or_throw(PyImport_ImportModule("numbers"));
      return hp::steal_or_throw(PyObject_GetAttrString(numbers.ptr(), "Real")).release().ptr();
    }();
    int r = PyObject_IsInstance(o, real_type);
    if (r < 0) hp::rethrow();
    is_real = r == 1;
  }
  if (!is_real) {
    PyErr_Format(PyExc_TypeError, "'%s' must be a real number, not %.200s", key, Py_TYPE(o)->tp_name);
    hp::rethrow();
  }
  double d = PyFloat_AsDouble(o);
  if (d == -1.0 && PyErr_Occurred()) hp::rethrow();
  return d;
}

/// TypeError unless `v` is a mapping (has `items`), naming the argument.
void require_mapping(nb::handle v, const char *argument, const char *what) {
  if (PyObject_HasAttrString(v.ptr(), "items")) return;
  PyErr_Format(PyExc_TypeError, "%s must be a mapping from line name to %s, not %s", argument, what,
               Py_TYPE(v.ptr())->tp_name);
  hp::rethrow();
}

/// Read the entry that the fold needs of a description from the values of
/// its keys, found in its copy.
Entry read_entry(const Fields &fields, const Fields::Values &v, std::size_t &foreign) {
  if (v[kFramePhase])
    hp::raise(PyExc_ValueError,
              "the description already carries 'frame_phase': these lines were folded already, and folding "
              "again would turn their pulses twice");
  auto required = [&](Field f) {
    if (!v[f]) hp::raise_key_error(fields.name(f));
    return real(v[f], kFieldNames[f], foreign);
  };
  Entry e;
  e.start = required(kPos);
  double width = required(kWidth);
  double plateau = required(kPlateau);
  e.end = e.start + (width + plateau);
  e.vz = v[kVz] ? real(v[kVz], "vz", foreign) : 0.0;
  // A NaN or infinite increment would turn every later pulse of the frame to a NaN phase.
  if (!std::isfinite(e.vz)) {
    PyErr_Format(PyExc_ValueError, "'vz' must be finite, not %R", nb::float_(e.vz).ptr());
    hp::rethrow();
  }
  if (!v[kEdgeShape]) e.turnable = v[kFreq] && v[kFreq] != Py_None && real(v[kFreq], "freq", foreign) != 0.0;
  e.phase1 = v[kPhase1];
  return e;
}

/// Run `body` with a note naming the line and the entry on any Python error.
template <typename F>
void at_entry(const Line &line, std::size_t k, F &&body) {
  try {
    body();
  } catch (nb::python_error &e) {
    hp::add_note(e, [&] {
      return hp::steal_or_throw(
          PyUnicode_FromFormat("while folding entry #%zu of the line %R", k, line.name.ptr()));
    });
    throw;
  }
}

/// A new dict with the items of `pd`.
nb::object copy_of(nb::handle pd) {
  if (PyDict_CheckExact(pd.ptr())) return hp::steal_or_throw(PyDict_Copy(pd.ptr()));
  nb::object d = hp::steal_or_throw(PyDict_New());
  if (PyDict_Merge(d.ptr(), pd.ptr(), 1) < 0) hp::rethrow();
  return d;
}

class Fold {
 public:
  Fold(nb::handle lines, nb::handle follow, nb::handle sign) : fields_(kFieldNames) {
    require_mapping(lines, "lines", "pulse descriptions");
    if (!follow.is_none()) require_mapping(follow, "follow", "the line whose frame it shares");
    if (!sign.is_none()) require_mapping(sign, "sign", "+1 or -1");
    name_lines(lines);
    if (!follow.is_none()) read_follow(follow);
    if (!sign.is_none()) read_sign(sign);
  }

  nb::tuple run() {
    // Each frame is folded once the last of its lines has been read.
    frames_.resize(lines_.size());
    for (std::size_t l = 0; l < lines_.size(); ++l) frames_[lines_[l].frame].lines.push_back(l);
    std::vector<std::size_t> unread(lines_.size());
    for (std::size_t f = 0; f < frames_.size(); ++f) unread[f] = frames_[f].lines.size();
    for (std::size_t l = 0; l < lines_.size(); ++l) {
      read_line(lines_[l]);
      if (--unread[lines_[l].frame] == 0) fold_frame(lines_[l].frame);
    }
    // The increments in time order, ties in the order of the lines and the
    // entries, those at NaN last: each frame's run is in that order already,
    // so the runs are merged.
    for (std::size_t width = 1; width < runs_.size(); width *= 2)
      for (std::size_t i = 0; i + width < runs_.size(); i += 2 * width) {
        auto at = [&](std::size_t r) {
          return events_.begin() + static_cast<std::ptrdiff_t>(r < runs_.size() ? runs_[r] : events_.size());
        };
        std::inplace_merge(at(i), at(i + width), at(i + 2 * width), in_order);
      }
    nb::object events = hp::steal_or_throw(PyList_New(static_cast<Py_ssize_t>(events_.size())));
    for (std::size_t i = 0; i < events_.size(); ++i) {
      const Event &ev = events_[i];
      nb::object row = hp::steal_or_throw(PyTuple_New(4));
      PyTuple_SET_ITEM(row.ptr(), 0, hp::steal_or_throw(PyFloat_FromDouble(ev.time)).release().ptr());
      PyTuple_SET_ITEM(row.ptr(), 1, lines_[ev.line].name.inc_ref().ptr());
      PyTuple_SET_ITEM(row.ptr(), 2, hp::steal_or_throw(PyFloat_FromDouble(ev.vz)).release().ptr());
      // The phase after the increment is the float that the frame's turned pulses hold too.
      PyTuple_SET_ITEM(row.ptr(), 3, frames_[lines_[ev.line].frame].turns[ev.place].inc_ref().ptr());
      // A row of floats and a str can never be part of a cycle: the
      // collector would drop it from its lists at its first pass, after
      // having walked it; dropping it now spares that pass the walk.
      if (PyUnicode_CheckExact(lines_[ev.line].name.ptr())) PyObject_GC_UnTrack(row.ptr());
      PyList_SET_ITEM(events.ptr(), static_cast<Py_ssize_t>(i), row.release().ptr());
    }
    nb::dict folded;
    for (Line &line : lines_) {
      // The list is made at its full length and filled with the copies the line holds.
      const auto n = static_cast<Py_ssize_t>(line.copies.size());
      nb::object out = hp::steal_or_throw(PyList_New(n));
      for (Py_ssize_t k = 0; k < n; ++k) PyList_SET_ITEM(out.ptr(), k, line.copies[k].release().ptr());
      line.copies.clear();
      hp::setitem(folded, line.name, out);
    }
    return nb::make_tuple(folded, events);
  }

 private:
  /// The lines in order, each its own frame until `follow` says otherwise.
  void name_lines(nb::handle lines) {
    if (PyDict_CheckExact(lines.ptr())) lines_.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(lines.ptr())));
    hp::for_items(lines, [&](nb::handle name, nb::handle pds) {
      hp::setitem(index_, name, nb::int_(lines_.size()));
      Line &line = lines_.emplace_back();
      line.name = nb::borrow(name);
      line.pds = nb::borrow(pds);
      line.frame = lines_.size() - 1;
    });
  }

  /// Copy the line's descriptions and read each from its copy: the caller's
  /// dicts, scattered in memory, are visited once.
  void read_line(Line &line) {
    // What was found ahead in another line is forgotten: turns, which may
    // run code of the caller's, have run since.
    ahead_.fill({});
    PyObject *pds = line.pds.ptr();
    const bool list = PyList_CheckExact(pds);
    if (list || PyTuple_CheckExact(pds)) {
      const auto n = static_cast<std::size_t>(Py_SIZE(pds));
      line.copies.reserve(n);
      line.entries.reserve(n);
    }
    bool in_entry = false;
    try {
      hp::for_each(line.pds, [&](nb::handle pd) {
        const auto i = static_cast<Py_ssize_t>(line.copies.size());
        if (list) look_ahead(pds, i);
        in_entry = true;
        at_entry(line, line.copies.size(), [&] {
          if (!PyDict_CheckExact(pd.ptr())) ++foreign_;  // a mapping's own methods copy it
          nb::object copy = copy_of(pd);
          // The copy holds the description's own values, as found ahead,
          // unless code of the caller's has run since, which could have
          // changed the description.
          const Ahead &ahead = ahead_[static_cast<std::size_t>(i) % ahead_.size()];
          const bool found = list && ahead.pd == pd.ptr() && ahead.foreign == foreign();
          line.entries.push_back(read_entry(fields_, found ? ahead.values : fields_.find(copy.ptr()), foreign_));
          line.copies.push_back(std::move(copy));
        });
        in_entry = false;
      });
    } catch (nb::python_error &e) {
      if (!in_entry)
        hp::add_note(e, [&] {
          return hp::steal_or_throw(PyUnicode_FromFormat("while folding the line %R", line.name.ptr()));
        });
      throw;
    }
    line.pds = nb::object();
  }

  /// Ask for the descriptions a few places after `i` in the list `pds`:
  /// first the dict, then, once it has arrived, its table, then, once that
  /// has arrived, its values, which the copy's references write to (a
  /// compile leaves them scattered in memory, and the copy would wait on
  /// each), finding the keys of the fold on the way.
  void look_ahead(PyObject *pds, Py_ssize_t i) {
    const Py_ssize_t n = PyList_GET_SIZE(pds);
#if defined(__GNUC__) || defined(__clang__)
    if (i + 12 < n) __builtin_prefetch(PyList_GET_ITEM(pds, i + 12));
#endif
    if (i + 6 < n) hp::compat::prefetch_dict_table(PyList_GET_ITEM(pds, i + 6));
    constexpr Py_ssize_t kValues = 3;
    if (i + kValues < n) {
      PyObject *pd = PyList_GET_ITEM(pds, i + kValues);
      Ahead &ahead = ahead_[static_cast<std::size_t>(i + kValues) % ahead_.size()];
      ahead.pd = nullptr;
      if (!PyDict_CheckExact(pd)) return;
      ahead.values = fields_.find(pd, /*prefetch=*/true);
      ahead.pd = pd;
      ahead.foreign = foreign();
    }
  }

  /// Reads so far that may have run code of the caller's.
  std::size_t foreign() const { return foreign_ + fields_.lookups(); }

  std::size_t line_named(nb::handle name, const char *argument) {
    PyObject *i = PyDict_GetItemWithError(index_.ptr(), name.ptr());
    if (!i) {
      if (PyErr_Occurred()) hp::rethrow();
      raise_value(PyUnicode_FromFormat("%s names the line %R, which is not one of the lines", argument,
                                       name.ptr()));
    }
    return PyLong_AsSize_t(i);
  }

  /// Each line's frame: the end of its chain of `follow`, refused when the chain comes back.
  void read_follow(nb::handle follow) {
    std::vector<std::size_t> parent(lines_.size());
    for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = i;
    hp::for_items(follow, [&](nb::handle name, nb::handle leader) {
      parent[line_named(name, "follow")] = line_named(leader, "follow");
    });
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      std::size_t at = i;
      for (std::size_t steps = 0; parent[at] != at; ++steps) {
        if (steps == lines_.size())
          raise_value(PyUnicode_FromFormat("follow goes round in a cycle through the line %R",
                                           lines_[i].name.ptr()));
        at = parent[at];
      }
      lines_[i].frame = at;
    }
  }

  void read_sign(nb::handle sign) {
    hp::for_items(sign, [&](nb::handle name, nb::handle s) {
      Line &line = lines_[line_named(name, "sign")];
      int plus = PyObject_RichCompareBool(s.ptr(), nb::int_(1).ptr(), Py_EQ);
      int minus = plus == 1 ? 0 : PyObject_RichCompareBool(s.ptr(), nb::int_(-1).ptr(), Py_EQ);
      if (plus < 0 || minus < 0) PyErr_Clear();
      if (plus != 1 && minus != 1)
        raise_value(PyUnicode_FromFormat("sign of the line %R is %R; it must be +1 or -1", name.ptr(), s.ptr()));
      line.sign = plus == 1 ? 1.0 : -1.0;
    });
  }

  /// Time order of increments (those at NaN last), ties in the order of the
  /// lines and the entries.
  static bool in_order(const Event &a, const Event &b) {
    const bool a_never = std::isnan(a.time), b_never = std::isnan(b.time);
    if (a_never != b_never) return b_never;
    if (!a_never && a.time != b.time) return a.time < b.time;
    return a.line != b.line ? a.line < b.line : a.entry < b.entry;
  }

  /// The frame's increments in order, its running phase after each, and
  /// then the turns of its lines' pulses.
  void fold_frame(std::size_t f) {
    Frame &frame = frames_[f];
    const std::size_t first = events_.size();
    for (std::size_t l : frame.lines)
      for (std::size_t k = 0; k < lines_[l].entries.size(); ++k)
        if (const Entry &e = lines_[l].entries[k]; e.vz != 0.0) events_.push_back({e.end, e.vz, 0.0, l, k});
    runs_.push_back(first);
    const auto begin = events_.begin() + static_cast<std::ptrdiff_t>(first);
    // The lines' entries mostly come in time order already.
    if (!std::is_sorted(begin, events_.end(), in_order)) std::stable_sort(begin, events_.end(), in_order);
    double phase = 0.0;
    for (auto ev = begin; ev != events_.end(); ++ev) {
      ev->after = phase = std::remainder(phase + ev->vz, 2 * std::numbers::pi);
      ev->place = frame.after.size();
      lines_[ev->line].entries[ev->entry].event = static_cast<long>(ev->place);
      frame.after.push_back(ev->after);
      frame.turns.push_back(hp::steal_or_throw(PyFloat_FromDouble(ev->after)));
      if (!std::isnan(ev->time)) frame.times.push_back(ev->time);
    }
    // A line whose frame never turns comes back as its copies, untouched.
    if (frame.times.empty()) return;
    for (std::size_t l : frame.lines) {
      Line &line = lines_[l];
      std::size_t hint = 0;
      for (std::size_t k = 0; k < line.copies.size(); ++k) at_entry(line, k, [&] { turn(line, k, hint); });
    }
  }

  /// How many of the `times` (in order) are at most `t`: the last answer,
  /// `hint`, moved on a few places, as a line's pulses mostly come in time
  /// order; found by bisection otherwise.
  static std::size_t increments_by(const std::vector<double> &times, double t, std::size_t &hint) {
    constexpr std::size_t kSteps = 4;
    const std::size_t n = times.size();
    if ((hint > 0 && times[hint - 1] > t) || (hint + kSteps < n && times[hint + kSteps] <= t))
      hint = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
    else
      while (hint < n && times[hint] <= t) ++hint;
    return hint;
  }

  /// Turn the copy of entry k of `line` by its frame's phase when an
  /// increment of the frame has taken effect by the time it starts; `hint`
  /// is the count of increments by the line's last pulse.
  void turn(const Line &line, std::size_t k, std::size_t &hint) {
    const Entry &e = line.entries[k];
    Frame &frame = frames_[line.frame];
    if (!e.turnable || std::isnan(e.start)) return;
    auto seen = static_cast<long>(increments_by(frame.times, e.start + kTolerance, hint));
    // A description is never turned by its own increment, nor by those
    // ordered after it (increments at the same instant, within the tolerance).
    if (e.event >= 0 && e.event < seen) seen = e.event;
    if (seen == 0) return;
    const auto at = static_cast<std::size_t>(seen - 1);
    const double by = line.sign * frame.after[at];
    // Every pulse turned by the same increment shares one float for the
    // turn: one object per increment and sign rather than one per pulse.
    std::vector<nb::object> &turns = line.sign > 0 ? frame.turns : frame.negated;
    if (turns.empty()) turns.resize(frame.after.size());
    if (!turns[at].is_valid()) turns[at] = hp::steal_or_throw(PyFloat_FromDouble(by));
    nb::handle pd = line.copies[k];
    if (!e.phase1) hp::raise_key_error(fields_.name(kPhase1));
    // float + float is the same sum either way; anything else adds as Python would.
    nb::object sum = hp::steal_or_throw(PyFloat_CheckExact(e.phase1)
                                            ? PyFloat_FromDouble(PyFloat_AS_DOUBLE(e.phase1) + by)
                                            : PyNumber_Add(e.phase1, turns[at].ptr()));
    hp::setitem(pd, fields_.name(kPhase1), sum);
    hp::setitem(pd, fields_.name(kFramePhase), turns[at]);
  }

  /// A frame's lines and increments: when they take effect (those at NaN
  /// never do) and the phase after each.
  struct Frame {
    std::vector<std::size_t> lines;  ///< the lines that turn with it, in order
    std::vector<double> times, after;
    std::vector<nb::object> turns;    ///< each phase after as a float, for +1 lines and the event rows
    std::vector<nb::object> negated;  ///< the same for -1 lines, made when first needed
  };

  /// A description's keys found a few places ahead (borrowed from it).
  struct Ahead {
    PyObject *pd = nullptr;
    Fields::Values values{};
    std::size_t foreign = 0;
  };

  Fields fields_;
  std::array<Ahead, 4> ahead_{};
  std::size_t foreign_ = 0;  ///< numbers and mappings read by their own methods
  nb::dict index_;  ///< line name -> its index in lines_
  std::vector<Line> lines_;
  std::vector<Event> events_;
  std::vector<std::size_t> runs_;  ///< where each frame's increments start in events_
  std::vector<Frame> frames_;
};

/// The collector paused for a scope, and set going again after it, unless it
/// was paused before.
class CollectorPaused {
 public:
  CollectorPaused() : was_enabled_(PyGC_Disable()) {}
  ~CollectorPaused() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPaused(const CollectorPaused &) = delete;
  CollectorPaused &operator=(const CollectorPaused &) = delete;

 private:
  int was_enabled_;
};

nb::tuple fold_vz(nb::handle lines, nb::handle follow, nb::handle sign) {
  // Everything the fold makes is free of cycles, and little of the caller's
  // code runs in it (a mapping's items, a number's conversion): the
  // collector's passes, which its twenty thousand new objects would set off
  // some thirty times (and the older generations' with them), would find
  // nothing of the fold's to free. The next pass comes at the first
  // allocation after the fold.
  CollectorPaused paused;
  return Fold(lines, follow, sign).run();
}

}  // namespace

void export_frames(nb::module_ &m) {
  m.def("fold_vz", &fold_vz, hp::arg("lines"), nb::kw_only(), hp::arg("follow") = nb::none(),
        hp::arg("sign") = nb::none(),
        nb::sig("def fold_vz(lines: typing.Mapping[typing.Any, typing.Iterable[dict]], *, "
                "follow: typing.Mapping[typing.Any, typing.Any] | None = None, "
                "sign: typing.Mapping[typing.Any, int] | None = None) "
                "-> tuple[dict[typing.Any, list[dict]], list[tuple[float, typing.Any, float, float]]]"),
        "Fold the virtual-Z phases (``vz``) into the pulses that follow them.\n\n"
        "A pulse of phase φ turns the qubit about cos φ·x + sin φ·y, so an\n"
        "increment ``vz = δ`` of the frame between two pulses acts as Rz(−δ): a\n"
        "Z rotation by θ is calibrated as ``cp['vz'] = -θ`` for ``Vz_p``.\n\n"
        "Every line is a frame of its own unless ``follow`` says whose frame it\n"
        "shares. A description's ``vz`` (0 when absent) increments its frame's\n"
        "phase at the description's end, ``pos + width + plateau`` (a\n"
        "zero-length ``Vz_p`` at its ``pos``). The frame's phase Φ is the sum of\n"
        "the increments in effect, in time order, kept in [−π, π] after each\n"
        "(``phase = math.remainder(phase + vz, 2*math.pi)``). A pulse on one of\n"
        "the frame's lines takes the phase of the increments that took effect\n"
        "by its start, within 1 ps (an increment at t turns a pulse that starts\n"
        "at t − 1 ps or later), whatever track it is on: a pulse that starts\n"
        "while another's increment has not yet taken effect is not turned by\n"
        "it. A description is never turned by its own ``vz``, nor by an\n"
        "increment at the same instant ordered after its own (a zero-length\n"
        "``Vz_p`` sees the frame before itself). Increments at one instant\n"
        "take effect in the order of the lines, then of the entries.\n"
        "A turned pulse's copy gets ``phase1 + s·Φ`` in ``phase1`` and ``s·Φ``\n"
        "under the new key ``frame_phase``, ``s`` being its line's sign.\n"
        "Level steps (``edge_shape``), pulses with ``freq`` 0 (a flux pulse is a\n"
        "real baseband signal) or without ``freq``, and pulses before the\n"
        "frame's first increment are never turned; their ``vz`` still counts.\n\n"
        "Parameters\n----------\n"
        "lines : mapping\n"
        "    Line name to pulse descriptions with absolute ``pos``, as\n"
        "    ``collect_pdc`` returns after ``ASAP`` or ``ALAP``.\n"
        "follow : mapping, optional\n"
        "    Line name to the line whose frame it shares (chains are followed):\n"
        "    ``{'cr_01': 'q1_xy'}`` turns a cross-resonance line driven at qubit\n"
        "    1's frequency with qubit 1's frame.\n"
        "sign : mapping, optional\n"
        "    Line name to +1 or −1 (default +1): the factor with which the line's\n"
        "    pulses take their frame's phase (a line mixed on the other sideband).\n\n"
        "Returns\n-------\nfolded : dict\n"
        "    Line name to a new list of new dicts, in the order of the input;\n"
        "    the input is not changed. A line whose frame has no increment\n"
        "    comes back as equal copies.\n"
        "events : list of tuple\n"
        "    One row ``(time, line, increment, phase after)`` per non-zero\n"
        "    ``vz``, in time order: for an exporter that uses an instrument's\n"
        "    phase register instead of turned samples. ``phase after`` is the\n"
        "    frame's phase, before the sign of any line.\n\n"
        "Raises\n------\n"
        "ValueError\n"
        "    A description already carries ``frame_phase`` (folding twice would\n"
        "    turn it twice); ``follow`` or ``sign`` names a line that ``lines``\n"
        "    lacks, or ``follow`` goes round in a cycle; a sign is not ±1; a\n"
        "    ``vz`` is NaN or infinite (it would turn every later pulse of its\n"
        "    frame to a NaN phase).\n"
        "TypeError\n"
        "    ``lines``, ``follow`` or ``sign`` is not a mapping; a ``pos``,\n"
        "    ``width``, ``plateau``, ``vz`` or ``freq`` that is not a real number.\n"
        "    Errors of an entry carry a note naming the line and the entry ``#k``.\n\n"
        "Examples\n--------\n"
        ">>> from halvane import circuit\n"
        ">>> x = {'shape': 'cos', 'width': 40e-9, 'plateau': 0, 'amp': 0.5,\n"
        "...      'freq': 100e6, 'phase': 0, 'phase1': 0, 'vz': 0}\n"
        ">>> vz = dict(x, pos=40e-9, width=0, amp=0, vz=-0.5)   # Rz(0.5)\n"
        ">>> folded, events = circuit.fold_vz({'q0': [dict(x, pos=0), vz, dict(x, pos=40e-9)]})\n"
        ">>> [pd['phase1'] for pd in folded['q0']], events\n"
        "([0, 0, -0.5], [(4e-08, 'q0', -0.5, -0.5)])");
}

}  // namespace halvane::circuit
