// What the rule module's functions reach through its globals at call time:
// `brick` and its functions, and the module's own `move_track`. Each call
// takes the direct C++ path while the binding is the original one and calls
// the Python object otherwise.
#pragma once
#include "py/errors.hpp"

namespace halvane::rule {
namespace nb = nanobind;

/// Bind the collaborators to the module's globals as they are at load.
void bind_collaborators(nb::handle module);

/// Whether every collaborator is the original, so that calls reach no other code.
bool collaborators_original();

/// brick.catch(kwds, w); an empty object when there is nothing to route
/// (see route_index).
nb::object route(nb::handle kwds, nb::handle w);

/// brick.catch(kwds, str(index)). An empty object stands for an empty dict
/// that nobody else sees: it is returned when there is nothing to route, and
/// accepted as `kwds`.
nb::object route_index(nb::handle kwds, Py_ssize_t index);

/// brick.pulse_duration(pd)
nb::object pulse_duration(nb::handle pd);

/// bool(brick.check_iterable(w))
bool check_iterable(nb::handle w);

/// brick.from_xqubits(text)
nb::object from_xqubits(nb::handle text);

/// brick.to_xqubits(qubits)
nb::object to_xqubits(nb::handle qubits);

/// bool(brick.isit(w, t))
bool isit(nb::handle w, nb::handle t);

/// move_track(track, w), the module's own global.
void move_track(nb::handle track, nb::handle w);

}  // namespace halvane::rule
