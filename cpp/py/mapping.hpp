// Subscription and .get() on dicts and on any other mapping.
//
// An exact dict is read directly; a dict subclass or any other object goes
// through the interpreter's own protocol, so __missing__, __getitem__ and a
// user's get() behave as they would in Python code.
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

/// An interned str, made once per call site: HV_KEY("pos").
#define HV_KEY(text)                                                         \
  ([]() -> ::nanobind::handle {                                              \
    static PyObject *interned_ = PyUnicode_InternFromString(text);           \
    return interned_;                                                        \
  }())

/// obj[key], raising KeyError naming the key when a dict lacks it.
inline nb::object getitem(nb::handle obj, nb::handle key) {
  if (PyDict_CheckExact(obj.ptr())) {
    PyObject *v = PyDict_GetItemWithError(obj.ptr(), key.ptr());
    if (v) return nb::borrow(v);
    if (PyErr_Occurred()) rethrow();
    raise_key_error(key);
  }
  return steal_or_throw(PyObject_GetItem(obj.ptr(), key.ptr()));
}

/// obj.get(key, dflt): a dict by lookup, anything else by calling its get method.
inline nb::object get(nb::handle obj, nb::handle key, nb::handle dflt) {
  if (PyDict_CheckExact(obj.ptr())) {
    PyObject *v = PyDict_GetItemWithError(obj.ptr(), key.ptr());
    if (v) return nb::borrow(v);
    if (PyErr_Occurred()) rethrow();
    return nb::borrow(dflt);
  }
  return obj.attr("get")(key, dflt);
}

/// `key in obj`.
inline bool contains(nb::handle obj, nb::handle key) {
  int r = PyDict_CheckExact(obj.ptr()) ? PyDict_Contains(obj.ptr(), key.ptr())
                                       : PySequence_Contains(obj.ptr(), key.ptr());
  if (r < 0) rethrow();
  return r == 1;
}

/// obj[key] = value.
inline void setitem(nb::handle obj, nb::handle key, nb::handle value) {
  int r = PyDict_CheckExact(obj.ptr()) ? PyDict_SetItem(obj.ptr(), key.ptr(), value.ptr())
                                       : PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr());
  if (r < 0) rethrow();
}

/// obj.update(other): dict into dict directly, anything else by the update method.
inline void update(nb::handle obj, nb::handle other) {
  if (PyDict_CheckExact(obj.ptr()) && PyDict_CheckExact(other.ptr())) {
    if (PyDict_Update(obj.ptr(), other.ptr()) < 0) rethrow();
    return;
  }
  obj.attr("update")(other);
}

/// obj.copy(): a new dict for a dict, anything else by its copy method.
inline nb::object copy(nb::handle obj) {
  if (PyDict_CheckExact(obj.ptr())) return steal_or_throw(PyDict_Copy(obj.ptr()));
  return obj.attr("copy")();
}

}  // namespace halvane::py
