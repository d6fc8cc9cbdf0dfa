// The interpreter's arithmetic on objects: a + b, a * b, a += b, ...
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

inline nb::object add(nb::handle a, nb::handle b) { return steal_or_throw(PyNumber_Add(a.ptr(), b.ptr())); }
inline nb::object sub(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_Subtract(a.ptr(), b.ptr()));
}
inline nb::object mul(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_Multiply(a.ptr(), b.ptr()));
}
inline nb::object truediv(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_TrueDivide(a.ptr(), b.ptr()));
}
/// a += b: the result of the in-place operation, to be stored back.
inline nb::object iadd(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_InPlaceAdd(a.ptr(), b.ptr()));
}
/// seq[k] with an int index.
inline nb::object item(nb::handle seq, Py_ssize_t k) {
  return steal_or_throw(PyObject_GetItem(seq.ptr(), nb::int_(k).ptr()));
}

}  // namespace halvane::py
