// The interpreter's arithmetic on objects beyond the sums of domain/reals.hpp.
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

/// a * b
inline nb::object mul(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_Multiply(a.ptr(), b.ptr()));
}
/// a / b
inline nb::object truediv(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_TrueDivide(a.ptr(), b.ptr()));
}
/// seq[k] with an int index.
inline nb::object item(nb::handle seq, Py_ssize_t k) {
  return steal_or_throw(PyObject_GetItem(seq.ptr(), nb::int_(k).ptr()));
}

}  // namespace halvane::py
