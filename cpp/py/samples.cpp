// Real numbers from numpy arrays and array-likes, as contiguous doubles.
#include "py/samples.hpp"

#include <cstring>

#include "py/ndarrays.hpp"

namespace halvane::py {
namespace {

void *writable_buffer(nb::handle array) {
  Py_buffer b;
  if (PyObject_GetBuffer(array.ptr(), &b, PyBUF_C_CONTIGUOUS | PyBUF_WRITABLE) < 0) rethrow();
  void *p = b.buf;
  PyBuffer_Release(&b);  // the array keeps its memory
  return p;
}

nb::object shaped(nb::object flat, const Reals &r) {
  return r.shape.is_valid() ? flat.attr("reshape")(r.shape) : flat;
}

}  // namespace

Reals reals(nb::handle x) {
  if (auto v = view(x); v && v->dtype == Dtype::float64 && v->stride == 1)
    return {nb::borrow(x), v->real(), static_cast<std::size_t>(v->size), {}};
  nb::handle np = numpy();
  nb::object a = np.attr("asarray")(x);
  nb::object kind = a.attr("dtype").attr("kind");
  const char *k = PyUnicode_AsUTF8(kind.ptr());
  if (!k) rethrow();
  if (std::strlen(k) != 1 || !std::strchr("biuf", k[0])) {
    PyErr_Format(PyExc_TypeError, "expected real numbers, got an array of dtype %S",
                 a.attr("dtype").ptr());
    rethrow();
  }
  nb::object shape;
  if (PyObject_Length(a.attr("shape").ptr()) != 1) {
    shape = a.attr("shape");
    a = a.attr("reshape")(-1);
  }
  a = np.attr("ascontiguousarray")(a, np.attr("float64"));
  auto v = view(a);
  if (!v) raise(PyExc_TypeError, "numpy returned an array without a float64 buffer");
  return {a, v->real(), static_cast<std::size_t>(v->size), shape};
}

Reals sample_times(nb::handle X) {
  Reals r = reals(X);
  if (r.shape.is_valid()) {
    PyErr_Format(PyExc_ValueError, "sample times must be one-dimensional, got shape %S",
                 r.shape.ptr());
    rethrow();
  }
  return r;
}

nb::object new_complex(std::size_t n, std::complex<double> *&data, bool *cold) {
  nb::object a = empty(static_cast<Py_ssize_t>(n), Dtype::complex128, cold);
  data = static_cast<std::complex<double> *>(writable_buffer(a));
  return a;
}

nb::object new_reals_like(const Reals &r, double *&data) {
  nb::object a = empty(static_cast<Py_ssize_t>(r.size), Dtype::float64);
  data = static_cast<double *>(writable_buffer(a));
  return shaped(a, r);
}

nb::object new_bools_like(const Reals &r, bool *&data) {
  nb::object a = numpy().attr("empty")(r.size, numpy().attr("bool_"));
  data = static_cast<bool *>(writable_buffer(a));
  return shaped(a, r);
}

}  // namespace halvane::py
