// Checks of the caller's output arrays, on the array object's own fields
// (numpy's C API): what is checked is the memory that will be written.
#include "py/out_arrays.hpp"
#include <algorithm>
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

void check_out_mapping(nb::handle out) {
  if (PyObject_HasAttrString(out.ptr(), "keys")) return;
  PyErr_Format(PyExc_TypeError, "out must be a mapping from line name to a pair (W, S) of arrays, not %s",
               Py_TYPE(out.ptr())->tp_name);
  rethrow();
}

std::optional<std::pair<nb::object, nb::object>> out_pair(nb::handle out, nb::handle name) {
  if (out.is_none()) return std::nullopt;
  int has = PySequence_Contains(out.ptr(), name.ptr());
  if (has < 0) rethrow();
  if (!has) return std::nullopt;
  nb::object items = steal_or_throw(PySequence_Tuple(steal_or_throw(PyObject_GetItem(out.ptr(), name.ptr())).ptr()));
  if (PyTuple_GET_SIZE(items.ptr()) != 2) {
    PyErr_Format(PyExc_ValueError, "out[%R] must be a pair (W, S) of arrays, not %zd items", name.ptr(),
                 PyTuple_GET_SIZE(items.ptr()));
    rethrow();
  }
  return std::pair{nb::borrow(PyTuple_GET_ITEM(items.ptr(), 0)), nb::borrow(PyTuple_GET_ITEM(items.ptr(), 1))};
}

void check_out_pair(nb::handle W, nb::handle S, Py_ssize_t n, nb::handle name) {
  out_array(W, n, nb::str("out[{!r}][0]").format(name));
  out_array(S, n, nb::str("out[{!r}][1]").format(name));
  if (W.is(S)) {
    PyErr_Format(PyExc_ValueError, "out[%R] must be two different arrays, not one array twice", name.ptr());
    rethrow();
  }
}

void check_disjoint(std::vector<OutSpan> spans, nb::handle names) {
  std::sort(spans.begin(), spans.end(), [](const OutSpan &a, const OutSpan &b) { return a.lo < b.lo; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].lo >= spans[i - 1].hi) continue;
    PyErr_Format(PyExc_ValueError, "the out buffers of lines %R and %R share memory",
                 PyList_GET_ITEM(names.ptr(), static_cast<Py_ssize_t>(std::min(spans[i - 1].line, spans[i].line))),
                 PyList_GET_ITEM(names.ptr(), static_cast<Py_ssize_t>(std::max(spans[i - 1].line, spans[i].line))));
    rethrow();
  }
}

}  // namespace halvane::py
