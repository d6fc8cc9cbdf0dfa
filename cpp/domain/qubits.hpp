// Qubit keys: decimal qubit indices joined by "x", first qubit first
// ((0, 1) is '0x1'), the one textual form of a qubit tuple used as a key.
#pragma once
#include "py/errors.hpp"

namespace halvane::domain {
using namespace halvane::py;

/// str() of each element of the iterable `qubits`, joined by "x".
nb::str to_xqubits(nb::handle qubits);

/// int() of each "x"-separated piece of `text`.
nb::list from_xqubits(nb::handle text);

}  // namespace halvane::domain
