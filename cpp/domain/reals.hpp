// Arithmetic on the times of a schedule, as the interpreter and numpy do it.
//
// Times are Python ints and floats at first; once numpy has reduced them
// (np.max over a list) they are numpy float64 or int64 scalars, and every
// sum with them is one too. A round trip through numpy for each addition
// costs far more than the addition, so these helpers compute the common
// cases in C++ and produce the very type and value numpy would: a float and
// an int give a float, a numpy scalar in the sum gives a numpy float64.
// Anything else (two ints, other types, an overflow that numpy would warn
// about, a zero of both signs among the candidates of a reduction) is left to
// the interpreter and numpy.
#pragma once
#include <span>
#include "py/errors.hpp"

namespace halvane::domain {
namespace nb = nanobind;

/// a + b
nb::object add(nb::handle a, nb::handle b);

/// a += b
nb::object inplace_add(nb::handle a, nb::handle b);

/// a - b
nb::object subtract(nb::handle a, nb::handle b);

/// Truth of a > b (less: a < b).
bool greater(nb::handle a, nb::handle b);
bool less(nb::handle a, nb::handle b);

/// numpy.max(list(values)) or numpy.min(list(values)), given the numpy
/// function `reduce` to call when the values are not all plain real scalars.
nb::object reduce_extreme(std::span<const nb::handle> values, bool maximum, nb::handle reduce);

}  // namespace halvane::domain
