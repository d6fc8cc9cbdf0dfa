// Checks of the caller's output arrays, on the array object's own fields
// (numpy's C API): what is checked is the memory that will be written.
#include "py/out_arrays.hpp"
#include "py/numpy_api.hpp"

namespace halvane::py {

namespace {

[[noreturn]] void fail(PyObject *type, nb::handle what, const char *needs, nb::handle got) {
  PyErr_Format(type, "%U must %s, not %U", what.ptr(), needs, got.ptr());
  rethrow();
}

}  // namespace

ArrayView out_array(nb::handle buf, Py_ssize_t n, nb::handle what) {
  import_numpy_api();
  if (!PyArray_Check(buf.ptr()))
    fail(PyExc_TypeError, what, "be a complex128 numpy array", nb::str(Py_TYPE(buf.ptr())->tp_name));
  auto *a = reinterpret_cast<PyArrayObject *>(buf.ptr());
  if (PyArray_TYPE(a) != NPY_CDOUBLE || !PyArray_ISNOTSWAPPED(a))
    fail(PyExc_TypeError, what, "be a complex128 numpy array",
         nb::str("an array of dtype {}").format(nb::handle(reinterpret_cast<PyObject *>(PyArray_DESCR(a)))));
  if (!PyArray_ISWRITEABLE(a)) fail(PyExc_ValueError, what, "be writeable", nb::str("read-only"));
  if (PyArray_NDIM(a) != 1) {
    nb::list shape;
    for (int d = 0; d < PyArray_NDIM(a); ++d) shape.append(PyArray_DIMS(a)[d]);
    fail(PyExc_ValueError, what, "be one-dimensional", nb::str("of shape {}").format(nb::tuple(shape)));
  }
  if (PyArray_DIMS(a)[0] != n)
    fail(PyExc_ValueError, what, nb::str("have exactly {} samples (the window's length)").format(n).c_str(),
         nb::str("{}").format(PyArray_DIMS(a)[0]));
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
