// The exact exception texts shared by every module.
#include "py/errors.hpp"

#include <new>
#include <stdexcept>

namespace halvane::py {

void raise_arg_type(const char *name, PyTypeObject *expected, nb::handle got) {
  PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
               name, expected->tp_name, Py_TYPE(got.ptr())->tp_name);
  rethrow();
}

void raise_key_error(nb::handle key) {
  // KeyError((1, 2)) would print as "1, 2"; the interpreter wraps tuple keys.
  if (PyTuple_Check(key.ptr())) {
    PyObject *t = PyTuple_Pack(1, key.ptr());
    if (t) {
      PyErr_SetObject(PyExc_KeyError, t);
      Py_DECREF(t);
    }
  } else {
    PyErr_SetObject(PyExc_KeyError, key.ptr());
  }
  rethrow();
}

void detail::add_note(const nb::python_error &e, nb::handle note) {
  PyObject *r = PyObject_CallMethod(e.value().ptr(), "add_note", "O", note.ptr());
  if (!r) rethrow();
  Py_DECREF(r);
}

void translate_allocation_failures() {
  nb::register_exception_translator([](const std::exception_ptr &p, void *) {
    // Any other exception propagates to the translators registered before.
    try {
      std::rethrow_exception(p);
    } catch (const std::bad_alloc &) {
      PyErr_SetString(PyExc_MemoryError, "halvane ran out of memory");
    } catch (const std::length_error &) {
      PyErr_SetString(PyExc_MemoryError, "halvane ran out of memory: a buffer beyond the largest possible size");
    }
  });
}

}  // namespace halvane::py
