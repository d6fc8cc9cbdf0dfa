// Attribute access on the circuit's objects, as `obj.name` and `obj.name = v`.
#pragma once
#include "py/errors.hpp"

namespace halvane::circuit {
namespace nb = nanobind;

inline nb::object get_attr(nb::handle obj, nb::handle name) {
  return py::steal_or_throw(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

inline void set_attr(nb::handle obj, nb::handle name, nb::handle v) {
  if (PyObject_SetAttr(obj.ptr(), name.ptr(), v.ptr()) < 0) py::rethrow();
}

/// Truth of a == b.
inline bool equals(nb::handle a, nb::handle b) {
  int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
  if (r < 0) py::rethrow();
  return r == 1;
}

}  // namespace halvane::circuit
