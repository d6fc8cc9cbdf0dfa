// Raising the interpreter's own exceptions from C++.
//
// A Python error that is already set travels as nb::python_error, which
// nanobind restores when the C++ frame returns; helpers here either set an
// error and throw, or test a condition and raise the exact text callers see.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::py {
namespace nb = nanobind;

/// Throw the Python error that is currently set.
[[noreturn]] inline void rethrow() { throw nb::python_error(); }

/// Return `o` as a new reference, or throw the error set by the call that made it.
inline nb::object steal_or_throw(PyObject *o) {
  if (!o) rethrow();
  return nb::steal(o);
}

/// Raise TypeError "Argument '<name>' has incorrect type (expected <T>, got <U>)".
[[noreturn]] void raise_arg_type(const char *name, PyTypeObject *expected, nb::handle got);

/// Check an annotated argument: `exact` demands the very type, else subclasses pass.
inline void check_arg(nb::handle v, PyTypeObject *expected, const char *name, bool exact = false) {
  PyTypeObject *t = Py_TYPE(v.ptr());
  if (t == expected || (!exact && PyType_IsSubtype(t, expected))) return;
  raise_arg_type(name, expected, v);
}

/// Raise KeyError(key) as subscription does (a tuple key is wrapped once more).
[[noreturn]] void raise_key_error(nb::handle key);

/// Run the interpreter's signal handlers, as its own loops do at every
/// step, so that Ctrl-C stops a loop over a user's (possibly endless) iterable.
inline void check_signals() {
  if (PyErr_CheckSignals() < 0) rethrow();
}

/// Turn the C++ allocation failures that reach the binding layer into
/// MemoryError with this package's message; the modules call it once at load.
void translate_allocation_failures();

/// Raise `type` with a message.
[[noreturn]] inline void raise(PyObject *type, const char *msg) {
  PyErr_SetString(type, msg);
  rethrow();
}

namespace detail {
void add_note(const nb::python_error &e, nb::handle note);
}

/// Add the note that `make()` builds (a str; an empty object for none) to
/// the exception of `e` on its way out (PEP 678 `add_note`). Notes say where
/// an error arose and are built only when one passes. Adding a note never
/// replaces the error: whatever building or adding it raises is dropped.
template <typename Make>
void add_note(const nb::python_error &e, Make &&make) noexcept {
  try {
    nb::object note = make();
    if (note.is_valid()) detail::add_note(e, note);
  } catch (...) {
    PyErr_Clear();
  }
}

}  // namespace halvane::py