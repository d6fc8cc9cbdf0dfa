// Attribute access, comparison and truth as interpreted code spells them:
// obj.name, obj.name = v, a == b, bool(v), str(v).
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

inline nb::object get_attr(nb::handle obj, nb::handle name) {
  return steal_or_throw(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

inline void set_attr(nb::handle obj, nb::handle name, nb::handle v) {
  if (PyObject_SetAttr(obj.ptr(), name.ptr(), v.ptr()) < 0) rethrow();
}

/// Truth of a == b. The comparison is always made: unlike the containers'
/// own tests, == does not take an object as equal to itself, so a NaN or an
/// __eq__ of its own can tell an object apart from itself.
inline bool equals(nb::handle a, nb::handle b) {
  nb::object r = steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
  int t = PyObject_IsTrue(r.ptr());
  if (t < 0) rethrow();
  return t == 1;
}

/// bool(v)
inline bool truth(nb::handle v) {
  int r = PyObject_IsTrue(v.ptr());
  if (r < 0) rethrow();
  return r == 1;
}

/// str(v)
inline nb::object text(nb::handle v) { return steal_or_throw(PyObject_Str(v.ptr())); }

/// a + b, for the concatenation of texts.
inline nb::object concat(nb::handle a, nb::handle b) {
  return steal_or_throw(PyNumber_Add(a.ptr(), b.ptr()));
}

}  // namespace halvane::py
