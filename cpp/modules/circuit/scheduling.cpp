// Scheduling: as soon as possible (times grow from 0) or as late as possible
// (times count down to 0), from the qubits each instruction names; then a
// shift to a requested start, end or pin time, and the move of every pulse
// description by its instruction's start.
//
// The per-qubit times start as the int 0 and become numpy scalars once
// np.max or np.min has reduced them, exactly as in interpreted code; the
// arithmetic helpers of domain/reals.hpp keep those types without calling numpy
// for each sum.
#include <algorithm>
#include <utility>
#include <vector>
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"
#include "domain/reals.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
namespace hd = halvane::domain;
using hp::equals, hp::get_attr, hp::set_attr;

namespace {

/// np.max or np.min of [times.get(q, 0) for q in qubits], and 0 for an
/// instruction that names no qubits, as for a qubit not yet seen; `held` and
/// `values` are scratch space reused from one instruction to the next.
nb::object extreme(nb::handle times, nb::handle qubits, bool maximum, std::vector<nb::object> &held,
                   std::vector<nb::handle> &values) {
  held.clear();
  values.clear();
  nb::object zero = nb::int_(0);
  hp::for_each(qubits, [&](nb::handle q) { held.push_back(hp::get(times, q, zero)); });
  if (held.empty()) return zero;
  values.assign(held.begin(), held.end());
  return maximum ? np_max(values) : np_min(values);
}

/// The positions of the pulse descriptions inside their gates, so that
/// moving them by their instruction's `pos` places them as a first
/// scheduling does, however often the circuit is scheduled. They are taken
/// at the first move of an instruction's tracks and kept in the circuit's
/// private `_gate_offsets`, one flat tuple for the whole circuit, in program
/// order: (ins, lts, n, pd, offset, ... n pairs, ins, lts, n, ...). One
/// object per circuit, not one per instruction: a record (or any new
/// attribute) on every instruction made the collector run a quarter more
/// often while compiling. New tracks from a new rule application are taken
/// as they are, and so are the pulses of a circuit without a record: a new
/// Circuit of instructions scheduled elsewhere takes them where they stand.
class GateOffsets {
 public:
  explicit GateOffsets(nb::handle circ) : circ_(circ), kept_(hp::getattr_or_null(circ, HV_KEY("_gate_offsets"))) {
    if (kept_.is_valid() && !PyTuple_CheckExact(kept_.ptr())) kept_ = nb::object();
  }

  /// Put the pulse descriptions of `ins` back at their recorded offsets, or
  /// record their positions now when the record does not hold these tracks.
  void restore(nb::handle ins, nb::handle lts) {
    pds_.clear();
    hp::for_values(lts, [&](nb::handle tracks) {
      hp::for_each(tracks, [&](nb::handle track) {
        hp::for_each(track, [&](nb::handle pd) { pds_.push_back(nb::borrow(pd)); });
      });
    });
    const auto n = static_cast<Py_ssize_t>(pds_.size());
    record(ins);
    record(lts);
    record(nb::int_(n));
    if (matches(ins, lts)) {
      for (Py_ssize_t j = 0; j < n; ++j) {
        nb::handle offset = PyTuple_GET_ITEM(kept_.ptr(), at_ + 4 + 2 * j);
        hp::setitem(pds_[static_cast<std::size_t>(j)], HV_KEY("pos"), offset);
        record(pds_[static_cast<std::size_t>(j)]);
        record(offset);
      }
      at_ += 3 + 2 * n;
      return;
    }
    changed_ = true;
    skip(ins);
    for (const nb::object &pd : pds_) {
      record(pd);
      record(hp::getitem(pd, HV_KEY("pos")));
    }
  }

  /// Keep the record on the circuit (a new tuple only when it changed). The
  /// kept entries past the cursor stay: after an error part way, the
  /// instructions not reached are where the last scheduling put them.
  void store() {
    if (!changed_ && kept_.is_valid() && at_ == PyTuple_GET_SIZE(kept_.ptr())) return;
    if (kept_.is_valid())
      for (Py_ssize_t i = at_; i < PyTuple_GET_SIZE(kept_.ptr()); ++i) record(PyTuple_GET_ITEM(kept_.ptr(), i));
    nb::object t = hp::steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(items_.size())));
    for (std::size_t i = 0; i < items_.size(); ++i)
      PyTuple_SET_ITEM(t.ptr(), static_cast<Py_ssize_t>(i), items_[i].release().ptr());
    set_attr(circ_, HV_KEY("_gate_offsets"), t);
  }

 private:
  void record(nb::handle v) { items_.push_back(nb::borrow(v)); }

  /// Whether the kept record holds, at the cursor, these very tracks of `ins`.
  bool matches(nb::handle ins, nb::handle lts) const {
    if (!kept_.is_valid()) return false;
    PyObject *k = kept_.ptr();
    const auto n = static_cast<Py_ssize_t>(pds_.size());
    if (at_ + 3 + 2 * n > PyTuple_GET_SIZE(k) || PyTuple_GET_ITEM(k, at_) != ins.ptr() ||
        PyTuple_GET_ITEM(k, at_ + 1) != lts.ptr() || PyLong_AsSsize_t(PyTuple_GET_ITEM(k, at_ + 2)) != n)
      return false;
    for (Py_ssize_t j = 0; j < n; ++j)
      if (PyTuple_GET_ITEM(k, at_ + 3 + 2 * j) != pds_[static_cast<std::size_t>(j)].ptr()) return false;
    return true;
  }

  /// Past the kept entry of `ins` (its tracks were replaced), if the cursor is on it.
  void skip(nb::handle ins) {
    if (!kept_.is_valid()) return;
    PyObject *k = kept_.ptr();
    if (at_ + 3 > PyTuple_GET_SIZE(k) || PyTuple_GET_ITEM(k, at_) != ins.ptr()) return;
    Py_ssize_t n = PyLong_AsSsize_t(PyTuple_GET_ITEM(k, at_ + 2));
    if (n < 0) PyErr_Clear();
    at_ = n < 0 ? PyTuple_GET_SIZE(k) : std::min(PyTuple_GET_SIZE(k), at_ + 3 + 2 * n);
  }

  nb::handle circ_;
  nb::object kept_;
  Py_ssize_t at_ = 0;
  bool changed_ = false;
  std::vector<nb::object> pds_, items_;
};

bool differs_from_none(nb::handle v) {
  int r = PyObject_RichCompareBool(v.ptr(), Py_None, Py_NE);
  if (r < 0) hp::rethrow();
  return r == 1;
}

/// The first instruction of `circ` for which `pred` holds, with its index;
/// an empty object when there is none, or when `circ.ins` is not a list or
/// tuple (a note must not consume an iterator of the caller's).
template <typename Pred>
std::pair<Py_ssize_t, nb::object> first_instruction(nb::handle circ, Pred &&pred) {
  Py_ssize_t k = 0;
  nb::object first, inss = get_attr(circ, HV_KEY("ins"));
  if (!PyList_CheckExact(inss.ptr()) && !PyTuple_CheckExact(inss.ptr())) return {k, first};
  hp::for_each(inss, [&](nb::handle ins) {
    if (!first.is_valid() && pred(ins)) first = nb::borrow(ins);
    if (!first.is_valid()) ++k;
  });
  return {k, first};
}

nb::object asap(nb::handle circ, nb::handle st_pos, nb::handle ed_pos) try {
  nb::object mx_pos = asap_core(circ);
  if (differs_from_none(st_pos)) {
    shift_circ(circ, st_pos);
  } else if (differs_from_none(ed_pos)) {
    shift_circ(circ, hd::subtract(ed_pos, mx_pos));
  } else if (hp::getattr_or_null(circ, HV_KEY("pin_pos")).is_valid()) {
    nb::object pin_pos = get_attr(circ, HV_KEY("pin_pos"));
    nb::object pin_gate_pos = get_attr(get_attr(circ, HV_KEY("pin_gate")), HV_KEY("pos"));
    shift_circ(circ, hd::subtract(pin_pos, pin_gate_pos));
  }
  flush_gate_pos_to_pds(circ);
  return nb::borrow(circ);
} catch (nb::python_error &e) {
  note_unapplied(e, circ, "scheduling");
  throw;
}

nb::object alap(nb::handle circ, nb::handle st_pos, nb::handle ed_pos) try {
  nb::object mn_pos = alap_core(circ);
  if (differs_from_none(st_pos)) {
    shift_circ(circ, hd::subtract(st_pos, mn_pos));
  } else if (differs_from_none(ed_pos)) {
    shift_circ(circ, ed_pos);
  }
  flush_gate_pos_to_pds(circ);
  return nb::borrow(circ);
} catch (nb::python_error &e) {
  note_unapplied(e, circ, "scheduling");
  throw;
}

}  // namespace

void note_unapplied(const nb::python_error &e, nb::handle circ, const char *step) noexcept {
  hp::add_note(e, [&]() -> nb::object {
    auto [k, ins] = first_instruction(circ, [](nb::handle i) {
      nb::object lts = hp::getattr_or_null(i, HV_KEY("lts"));
      return !lts.is_valid() || lts.is_none();
    });
    if (!ins.is_valid()) return {};
    nb::object text = printed_for_note(ins);
    if (!text.is_valid()) text = nb::str(Py_TYPE(ins.ptr())->tp_name);
    return hp::steal_or_throw(PyUnicode_FromFormat(
        "the circuit has not been through semi_apply: instruction #%zd %U has no line tracks (lts is None); "
        "apply the rules before %s", k, text.ptr(), step));
  });
}

namespace native {

nb::object asap_core(nb::handle circ) {
  nb::dict qubit_times_l;
  nb::object mx_pos = nb::int_(0);
  std::vector<nb::object> held;
  std::vector<nb::handle> values;
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    nb::object qubits = get_attr(ins, HV_KEY("qubits"));
    set_attr(ins, HV_KEY("pos"), extreme(qubit_times_l, qubits, true, held, values));
    nb::object nxt_pos = hd::add(get_attr(ins, HV_KEY("dur")), get_attr(ins, HV_KEY("pos")));
    if (hd::greater(nxt_pos, mx_pos)) mx_pos = nxt_pos;
    hp::for_each(qubits, [&](nb::handle q) { hp::setitem(qubit_times_l, q, nxt_pos); });
  });
  return mx_pos;
}

nb::object alap_core(nb::handle circ) {
  nb::dict qubit_times_r;
  nb::object mn_pos = nb::int_(0);
  std::vector<nb::object> held;
  std::vector<nb::handle> values;
  nb::object reversed_ins = hp::steal_or_throw(
      PyObject_GetItem(get_attr(circ, HV_KEY("ins")).ptr(), nb::slice(Py_None, Py_None, nb::int_(-1)).ptr()));
  hp::for_each(reversed_ins, [&](nb::handle ins) {
    nb::object qubits = get_attr(ins, HV_KEY("qubits"));
    nb::object mn_time = extreme(qubit_times_r, qubits, false, held, values);
    set_attr(ins, HV_KEY("pos"), hd::subtract(mn_time, get_attr(ins, HV_KEY("dur"))));
    nb::object nxt_pos = get_attr(ins, HV_KEY("pos"));
    if (hd::less(nxt_pos, mn_pos)) mn_pos = nxt_pos;
    hp::for_each(qubits, [&](nb::handle q) { hp::setitem(qubit_times_r, q, nxt_pos); });
  });
  return mn_pos;
}

void shift_circ(nb::handle circ, nb::handle t) {
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    set_attr(ins, HV_KEY("pos"), hd::inplace_add(get_attr(ins, HV_KEY("pos")), t));
  });
}

void flush_gate_pos_to_pds(nb::handle circ) {
  GateOffsets offsets(circ);
  try {
    hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
      nb::object lts = get_attr(ins, HV_KEY("lts"));
      offsets.restore(ins, lts);
      hp::for_values(lts, [&](nb::handle tracks) {
        hp::for_each(tracks, [&](nb::handle track) { move_track(track, get_attr(ins, HV_KEY("pos"))); });
      });
    });
  } catch (nb::python_error &) {
    // The offsets taken so far are kept, so that scheduling again after the
    // error does not add the moves made before it to the pulses' positions.
    offsets.store();
    throw;
  }
  offsets.store();
}

}  // namespace native

void export_scheduling(nb::module_ &m) {
  m.def("_ASAP", &native::asap_core, hp::arg("circ"), nb::sig("def _ASAP(circ: Circuit) -> typing.Any"),
        "Give every instruction the earliest start its qubits allow, from 0.\n\n"
        "Returns\n-------\nobject\n    The latest end time (0 for an empty circuit).");
  m.def("_ALAP", &native::alap_core, hp::arg("circ"), nb::sig("def _ALAP(circ: Circuit) -> typing.Any"),
        "Give every instruction the latest start its qubits allow, ending by 0.\n\n"
        "Returns\n-------\nobject\n    The earliest start time, zero or negative.");
  m.def("shift_circ", &native::shift_circ, hp::arg("circ"), hp::arg("t"),
        nb::sig("def shift_circ(circ: Circuit, t: typing.Any) -> None"),
        "Add ``t`` to the ``pos`` of every instruction.");
  m.def("flush_gate_pos_to_pds", &native::flush_gate_pos_to_pds, hp::arg("circ"),
        nb::sig("def flush_gate_pos_to_pds(circ: Circuit) -> None"),
        "Place every pulse description at its instruction's ``pos`` plus its offset\n"
        "inside the gate (``rule.move_track``). Flushing again, after another\n"
        "schedule, places them anew rather than moving them further.");
  m.def("ASAP", &asap, hp::arg("circ"), hp::arg("st_pos") = nb::none(), hp::arg("ed_pos") = nb::none(),
        nb::sig("def ASAP(circ: Circuit, st_pos: typing.Any = None, ed_pos: typing.Any = None) -> Circuit"),
        "Schedule as soon as possible and give every pulse description its absolute time.\n\n"
        "Parameters\n----------\n"
        "circ : Circuit\n    With rules applied.\n"
        "st_pos : optional\n    Start of the circuit.\n"
        "ed_pos : optional\n"
        "    End of the latest instruction, when ``st_pos`` is None. Without\n"
        "    either, a circuit with a PIN puts the pin instruction at ``pin_pos``.\n\n"
        "Returns\n-------\nCircuit\n    ``circ`` itself.\n\n"
        "Examples\n--------\n"
        "With ``circ`` from the example of ``semi_apply`` (two X of 40 ns on qubit 0):\n\n"
        ">>> circ = circuit.ASAP(circ, st_pos=1e-6)\n"
        ">>> [float(ins.pos) for ins in circ.ins]\n"
        "[1e-06, 1.04e-06]");
  m.def("ALAP", &alap, hp::arg("circ"), hp::arg("st_pos") = nb::none(), hp::arg("ed_pos") = nb::none(),
        nb::sig("def ALAP(circ: Circuit, st_pos: typing.Any = None, ed_pos: typing.Any = None) -> Circuit"),
        "Schedule as late as possible and give every pulse description its absolute time.\n\n"
        "Parameters\n----------\n"
        "circ : Circuit\n    With rules applied.\n"
        "st_pos : optional\n    Start of the earliest instruction.\n"
        "ed_pos : optional\n    End of the circuit, when ``st_pos`` is None. Pins are ignored.\n\n"
        "Returns\n-------\nCircuit\n    ``circ`` itself.");
}

}  // namespace halvane::circuit
