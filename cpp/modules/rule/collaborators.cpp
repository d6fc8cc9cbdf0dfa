// Call-time bindings of the rule module.
#include "modules/rule/collaborators.hpp"
#include <array>
#include "py/members.hpp"
#include "py/objects.hpp"
#include "py/pulses.hpp"
#include "py/qubits.hpp"
#include "py/routing.hpp"
#include "py/tags.hpp"

namespace halvane::rule {
namespace hp = halvane::py;

namespace {

hp::Rebindable brick, move_track_global;
hp::Member catch_fn, pulse_duration_fn, check_iterable_fn, from_xqubits_fn, to_xqubits_fn, isit_fn;
/// All of the above but check_iterable, which is always called through Python.
hp::Originals originals;

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

void bind_collaborators(nb::handle module) {
  brick.bind(module, "brick");
  move_track_global.bind(module, "move_track");
  catch_fn.bind(brick, "catch");
  pulse_duration_fn.bind(brick, "pulse_duration");
  check_iterable_fn.bind(brick, "check_iterable");
  from_xqubits_fn.bind(brick, "from_xqubits");
  to_xqubits_fn.bind(brick, "to_xqubits");
  isit_fn.bind(brick, "isit");
  originals.watch(module);
  originals.watch(brick.original());
  for (const hp::Rebindable *r : {&brick, &move_track_global}) originals.require(*r);
  for (const hp::Member *f : {&catch_fn, &pulse_duration_fn, &from_xqubits_fn, &to_xqubits_fn, &isit_fn})
    originals.require(*f);
}

bool collaborators_original() { return originals.hold(); }

nb::object route(nb::handle kwds, nb::handle w) {
  if (originals.hold()) {
    bool nothing = PyDict_CheckExact(kwds.ptr()) && PyDict_GET_SIZE(kwds.ptr()) == 0;
    return nothing && PyUnicode_Check(w.ptr()) ? nb::object() : hp::catch_kw(kwds, w);
  }
  nb::object f = catch_fn.current();
  if (catch_fn.is_original(f)) return hp::catch_kw(kwds, w);
  return f(kwds, w);
}

nb::object route_index(nb::handle kwds, Py_ssize_t index) {
  if (!originals.hold()) {
    nb::object f = catch_fn.current();
    if (!catch_fn.is_original(f)) return f(kwds.is_valid() ? nb::borrow(kwds) : nb::dict(), index_text(index));
  }
  // Nothing to route: the result would be a new empty dict whatever the target.
  if (!kwds.is_valid() || (PyDict_CheckExact(kwds.ptr()) && PyDict_GET_SIZE(kwds.ptr()) == 0)) return {};
  return hp::catch_kw(kwds, index_text(index));
}

nb::object pulse_duration(nb::handle pd) {
  if (originals.hold()) return hp::pulse_duration(pd);
  nb::object f = pulse_duration_fn.current();
  if (pulse_duration_fn.is_original(f)) return hp::pulse_duration(pd);
  return f(pd);
}

bool check_iterable(nb::handle w) { return hp::truth(check_iterable_fn.current()(w)); }

nb::object from_xqubits(nb::handle text) {
  if (originals.hold()) return hp::from_xqubits(text);
  nb::object f = from_xqubits_fn.current();
  if (from_xqubits_fn.is_original(f)) return hp::from_xqubits(text);
  return f(text);
}

nb::object to_xqubits(nb::handle qubits) {
  if (originals.hold()) return hp::to_xqubits(qubits);
  nb::object f = to_xqubits_fn.current();
  if (to_xqubits_fn.is_original(f)) return hp::to_xqubits(qubits);
  return f(qubits);
}

bool isit(nb::handle w, nb::handle t) {
  if (originals.hold()) return hp::tag_is(w, HV_KEY("__maj_type__"), t);
  nb::object f = isit_fn.current();
  if (isit_fn.is_original(f)) return hp::tag_is(w, HV_KEY("__maj_type__"), t);
  return hp::truth(f(w, t));
}

void move_track(nb::handle track, nb::handle w) {
  if (originals.hold()) return hp::move_track(track, w);
  nb::object f = nb::borrow(move_track_global.current());
  if (move_track_global.is_original(f)) return hp::move_track(track, w);
  f(track, w);
}

}  // namespace halvane::rule
