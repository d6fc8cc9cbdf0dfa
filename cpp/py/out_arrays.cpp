// Checks of the caller's output arrays.
#include "py/out_arrays.hpp"

namespace halvane::py {

namespace {

[[noreturn]] void fail(PyObject *type, nb::handle what, const char *needs, nb::handle got) {
  PyErr_Format(type, "%U must %s, not %U", what.ptr(), needs, got.ptr());
  rethrow();
}

bool truthy(nb::handle v) {
  int r = PyObject_IsTrue(v.ptr());
  if (r < 0) rethrow();
  return r;
}

}  // namespace

ArrayView out_array(nb::handle buf, Py_ssize_t n, nb::handle what) {
  nb::handle np = numpy();
  int is_array = PyObject_IsInstance(buf.ptr(), np.attr("ndarray").ptr());
  if (is_array < 0) rethrow();
  if (!is_array) fail(PyExc_TypeError, what, "be a complex128 numpy array", nb::str(Py_TYPE(buf.ptr())->tp_name));
  nb::object dtype = buf.attr("dtype");
  if (!truthy(nb::steal(PyObject_RichCompare(dtype.ptr(), np.attr("complex128").ptr(), Py_EQ))))
    fail(PyExc_TypeError, what, "be a complex128 numpy array", nb::str("an array of dtype {}").format(dtype));
  nb::object flags = buf.attr("flags");
  if (!truthy(flags.attr("writeable"))) fail(PyExc_ValueError, what, "be writeable", nb::str("read-only"));
  nb::object ndim = buf.attr("ndim");
  if (!truthy(nb::steal(PyObject_RichCompare(ndim.ptr(), nb::int_(1).ptr(), Py_EQ))))
    fail(PyExc_ValueError, what, "be one-dimensional", nb::str("of shape {}").format(buf.attr("shape")));
  // The attributes above word the errors; what is written is judged by the
  // array's own memory, which a subclass's len() or dtype cannot change.
  auto v = view(buf, true);
  if (!v || v->stride != 1)
    fail(PyExc_ValueError, what, "be contiguous and aligned", nb::str("a strided or unaligned array"));
  if (v->dtype != Dtype::complex128)
    fail(PyExc_TypeError, what, "be a complex128 numpy array", nb::str("an array of float64 items"));
  if (v->size != n)
    fail(PyExc_ValueError, what, nb::str("have exactly {} samples (the window's length)").format(n).c_str(),
         nb::str("{}").format(v->size));
  return *v;
}

}  // namespace halvane::py
