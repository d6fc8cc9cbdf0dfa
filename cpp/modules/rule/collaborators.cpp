// Call-time bindings of the rule module.
#include "modules/rule/collaborators.hpp"
#include <array>
#include "py/collaborators.hpp"
#include "py/objects.hpp"
#include "domain/pulses.hpp"
#include "domain/qubits.hpp"
#include "domain/routing.hpp"
#include "domain/tags.hpp"

namespace halvane::rule {
namespace hp = halvane::py;
namespace hd = halvane::domain;

namespace {

enum : std::size_t {
  BRICK, MOVE_TRACK, CATCH, PULSE_DURATION, CHECK_ITERABLE, FROM_XQUBITS, TO_XQUBITS, ISIT, NAME_COUNT
};
constexpr hp::Collaborator collaborator_table[] = {{BRICK, "brick"},
                                      {MOVE_TRACK, "move_track"},
                                      {CATCH, "brick", "catch"},
                                      {PULSE_DURATION, "brick", "pulse_duration"},
                                      {CHECK_ITERABLE, "brick", "check_iterable"},
                                      {FROM_XQUBITS, "brick", "from_xqubits"},
                                      {TO_XQUBITS, "brick", "to_xqubits"},
                                      {ISIT, "brick", "isit"}};
static_assert(hp::named_in_order(collaborator_table, NAME_COUNT));
hp::Collaborators names{collaborator_table};

/// str(index), shared for the small indices every track and pulse uses.
nb::object index_text(Py_ssize_t i) {
  static std::array<PyObject *, 64> cache{};
  if (i >= 0 && i < static_cast<Py_ssize_t>(cache.size())) {
    PyObject *&s = cache[static_cast<std::size_t>(i)];
    if (!s) s = hp::steal_or_throw(PyUnicode_FromFormat("%zd", i)).release().ptr();
    return nb::borrow(s);
  }
  return hp::steal_or_throw(PyUnicode_FromFormat("%zd", i));
}

}  // namespace

void bind_collaborators(nb::handle module) { names.bind(module); }

bool collaborators_original() { return names.hold(); }

nb::object route(nb::handle kwds, nb::handle w) {
  if (names.hold()) {
    bool nothing = PyDict_CheckExact(kwds.ptr()) && PyDict_GET_SIZE(kwds.ptr()) == 0;
    return nothing && PyUnicode_Check(w.ptr()) ? nb::object() : hd::catch_kw(kwds, w);
  }
  return names.call(CATCH, [&] { return hd::catch_kw(kwds, w); }, kwds, w);
}

nb::object route_index(nb::handle kwds, Py_ssize_t index) {
  if (!names.hold()) {
    nb::object f = names.current(CATCH);
    if (!names.is_original(CATCH, f)) return f(kwds.is_valid() ? nb::borrow(kwds) : nb::dict(), index_text(index));
  }
  // Nothing to route: the result would be a new empty dict whatever the target.
  if (!kwds.is_valid() || (PyDict_CheckExact(kwds.ptr()) && PyDict_GET_SIZE(kwds.ptr()) == 0)) return {};
  return hd::catch_kw(kwds, index_text(index));
}

nb::object pulse_duration(nb::handle pd) {
  return names.call(PULSE_DURATION, [&] { return hd::pulse_duration(pd); }, pd);
}

bool check_iterable(nb::handle w) { return hp::truth(names.current(CHECK_ITERABLE)(w)); }

nb::object from_xqubits(nb::handle text) {
  return names.call(FROM_XQUBITS, [&] { return hd::from_xqubits(text); }, text);
}

nb::object to_xqubits(nb::handle qubits) {
  return names.call(TO_XQUBITS, [&] { return hd::to_xqubits(qubits); }, qubits);
}

bool isit(nb::handle w, nb::handle t) {
  return hp::truth(names.call(ISIT, [&] { return nb::bool_(hd::tag_is(w, HV_KEY("__maj_type__"), t)); }, w, t));
}

void move_track(nb::handle track, nb::handle w) {
  names.call(MOVE_TRACK, [&] { hd::move_track(track, w); }, track, w);
}

}  // namespace halvane::rule
