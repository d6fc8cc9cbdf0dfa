// Tuple unpacking with the interpreter's messages.
#include "py/unpack.hpp"

namespace halvane::py {

void unpack(nb::handle obj, nb::object *out, std::size_t n) {
  PyObject *it = PyObject_GetIter(obj.ptr());
  if (!it) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) && !PyIter_Check(obj.ptr())) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                   Py_TYPE(obj.ptr())->tp_name);
    }
    rethrow();
  }
  nb::object iter = nb::steal(it);
  for (std::size_t k = 0; k < n; ++k) {
    PyObject *v = PyIter_Next(it);
    if (!v) {
      if (!PyErr_Occurred())
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zu, got %zu)", n, k);
      rethrow();
    }
    out[k] = nb::steal(v);
  }
  PyObject *extra = PyIter_Next(it);
  if (extra) {
    Py_DECREF(extra);
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zu)", n);
    rethrow();
  }
  if (PyErr_Occurred()) rethrow();
}

}  // namespace halvane::py
