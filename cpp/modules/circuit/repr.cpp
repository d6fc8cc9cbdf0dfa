// How a circuit shows itself: a one-line summary, and in a notebook the
// table of where each gate sits (drawn by halvane.schedule, which needs no
// plotting library).
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>
#include "modules/circuit/exports.hpp"
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;

namespace {

/// "3 instructions on qubits 0, 1, scheduled 0 .. 80 ns". A circuit counts as
/// scheduled when every instruction has line tracks and a start time.
std::string circuit_summary(nb::handle self) {
  // Only lists and tuples are read: a repr must not consume (or run on
  // without end over) an iterator of the caller's.
  auto sequence = [](nb::handle v) { return PyList_CheckExact(v.ptr()) || PyTuple_CheckExact(v.ptr()); };
  nb::object ins = hp::attr_or_none(self, "ins");
  if (!ins.is_valid()) return "no instructions";
  if (!sequence(ins)) return hp::cat("ins of type ", hp::class_name(ins));
  nb::object it = nb::steal(PyObject_GetIter(ins.ptr()));
  size_t count = 0;
  bool scheduled = true;
  double first = INFINITY, last = -INFINITY;
  std::vector<nb::object> qubits;  // in order of first appearance
  while (PyObject *i_ = PyIter_Next(it.ptr())) {
    nb::object i = nb::steal(i_);
    ++count;
    if (nb::object qs = hp::attr_or_none(i, "qubits"); qs.is_valid() && sequence(qs)) {
      nb::object qit = nb::steal(PyObject_GetIter(qs.ptr()));
      if (!qit.is_valid()) PyErr_Clear();
      while (qit.is_valid()) {
        PyObject *q = PyIter_Next(qit.ptr());
        if (!q) break;
        nb::object qo = nb::steal(q);
        bool seen = std::any_of(qubits.begin(), qubits.end(), [&](const nb::object &o) {
          int eq = PyObject_RichCompareBool(o.ptr(), q, Py_EQ);
          if (eq < 0) PyErr_Clear();
          return eq == 1;
        });
        if (!seen) qubits.push_back(qo);
      }
      PyErr_Clear();
    }
    nb::object lts = hp::attr_or_none(i, "lts");
    nb::object pos = hp::attr_or_none(i, "pos");
    if (!lts.is_valid() || lts.is_none() || !pos.is_valid()) {
      scheduled = false;
      continue;
    }
    auto p = hp::real_value(pos);
    auto d = hp::real_value(hp::attr_or_none(i, "dur"));
    if (p) first = std::fmin(first, *p);
    if (p && d) last = std::fmax(last, *p + *d);
  }
  if (PyErr_Occurred()) hp::rethrow();

  std::string text = std::to_string(count) + (count == 1 ? " instruction" : " instructions");
  if (!qubits.empty()) {
    // Integer qubits read best in order; anything else keeps its first appearance.
    if (std::all_of(qubits.begin(), qubits.end(), [](const nb::object &q) { return PyLong_Check(q.ptr()); }))
      std::stable_sort(qubits.begin(), qubits.end(), [](const nb::object &a, const nb::object &b) {
        int lt = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_LT);
        if (lt < 0) PyErr_Clear();
        return lt == 1;
      });
    constexpr size_t shown = 8;
    text += qubits.size() == 1 ? " on qubit " : " on qubits ";
    for (size_t k = 0; k < std::min(qubits.size(), shown); ++k)
      text += hp::cat(k ? ", " : "", hp::safe_repr(qubits[k]));
    if (qubits.size() > shown) text += hp::cat(", ... (", std::to_string(qubits.size()), " qubits)");
  }
  if (count == 0) return text;
  if (!scheduled) return text + ", not scheduled";
  if (std::isfinite(first) && std::isfinite(last)) return hp::cat(text, ", scheduled ", hp::span_text(first, last));
  return text + ", scheduled";
}

nb::str circuit_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    hp::ReprGuard guard(self);
    std::string name = hp::class_name(self);
    if (!guard.entered()) return hp::cat("<", name, " ...>");
    return hp::cat("<", name, ": ", circuit_summary(self), ">");
  });
}

/// The schedule table as HTML once the circuit is scheduled, else None (the
/// notebook then shows the repr).
nb::object repr_html(nb::handle self) {
  PyObject *schedule = PyImport_ImportModule("halvane.schedule");
  if (!schedule) {
    PyErr_Clear();
    return nb::none();
  }
  PyObject *page = PyObject_CallMethod(schedule, "circuit_html", "O", self.ptr());
  Py_DECREF(schedule);
  if (!page) {
    PyErr_Clear();
    return nb::none();
  }
  return nb::steal(page);
}

}  // namespace

void export_reprs(nb::module_ &m) {
  nb::object circ = m.attr("Circuit");
  hp::def_method(circ, "__repr__", &circuit_repr, nb::sig("def __repr__(self) -> str"),
                 "``<Circuit: 3 instructions on qubits 0, 1, scheduled 0 .. 80 ns>``.");
  hp::def_method(circ, "_repr_html_", &repr_html, nb::sig("def _repr_html_(self) -> str | None"),
                 "The schedule table as HTML when the circuit is scheduled, else None.");
}

}  // namespace halvane::circuit
