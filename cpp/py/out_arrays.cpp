// Checks of the caller's output arrays.
#include "py/out_arrays.hpp"
#include <algorithm>

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
