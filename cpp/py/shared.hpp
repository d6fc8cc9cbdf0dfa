// State that every extension module of the package shares.
//
// Each extension module links its own copy of the package's static
// libraries, so a function-local static exists once per module. State that
// must exist once per process (the dict watcher's count, the qubit-key
// cache) is made by the first module that asks and kept in the interpreter's
// own dict under its name, which Python code does not reach; the other
// modules find it there.
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

/// The process's one T under `name` (a string literal), made on first use.
template <typename T>
T &shared(const char *name) {
  PyObject *interp = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (!interp) rethrow();
  if (PyObject *cap = PyDict_GetItemString(interp, name)) {
    void *p = PyCapsule_GetPointer(cap, name);
    if (!p) rethrow();
    return *static_cast<T *>(p);
  }
  T *made = new T();  // never freed: every module may use it until the process ends
  nb::object cap = steal_or_throw(PyCapsule_New(made, name, nullptr));
  if (PyDict_SetItemString(interp, name, cap.ptr()) < 0) rethrow();
  return *made;
}

}  // namespace halvane::py
