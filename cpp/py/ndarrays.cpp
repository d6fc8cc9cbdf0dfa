// numpy arrays and scalars seen from C++.
#include "py/ndarrays.hpp"
#include "py/buffer_cache.hpp"
#include "py/numpy_api.hpp"

namespace halvane::py {

namespace {

struct NumpyTypes {
  nb::object module, empty, f64, c128, ndarray, real_scalars, complex_scalars;
};

const NumpyTypes &types() {
  // Kept for the life of the interpreter, like the module itself.
  static NumpyTypes *t = [] {
    auto *n = new NumpyTypes;
    import_numpy_api();
    n->module = nb::module_::import_("numpy");
    n->empty = n->module.attr("empty");
    n->f64 = n->module.attr("float64");
    n->c128 = n->module.attr("complex128");
    n->ndarray = n->module.attr("ndarray");
    n->real_scalars = nb::make_tuple(n->module.attr("integer"), n->module.attr("floating"),
                                     n->module.attr("bool_"));
    n->complex_scalars = n->module.attr("complexfloating");
    return n;
  }();
  return *t;
}

}  // namespace

nb::handle numpy() { return types().module; }

namespace {

/// The bytes of n elements, or 0 when n is no plain size (numpy then judges it).
std::size_t bytes_of(nb::handle n, Dtype dtype) {
  const std::size_t count = PyLong_Check(n.ptr()) ? PyLong_AsSize_t(n.ptr()) : 0;
  if (PyErr_Occurred()) {
    PyErr_Clear();
    return 0;
  }
  const std::size_t item = dtype == Dtype::float64 ? 8 : 16;
  return count > SIZE_MAX / item ? 0 : count * item;
}

}  // namespace

nb::object empty(nb::handle n, Dtype dtype, bool *recycled) {
  const NumpyTypes &t = types();
  CachedAllocations cached(bytes_of(n, dtype));
  nb::object a = t.empty(n, dtype == Dtype::float64 ? t.f64 : t.c128);
  if (recycled) *recycled = cached.recycled();
  return a;
}

nb::object zeros(Py_ssize_t n, Dtype dtype) {
  static nb::handle f = nb::object(numpy().attr("zeros")).release();
  const NumpyTypes &t = types();
  nb::object count = steal_or_throw(PyLong_FromSsize_t(n));
  CachedAllocations cached(bytes_of(count, dtype));
  return f(count, dtype == Dtype::float64 ? t.f64 : t.c128);
}

nb::object empty(Py_ssize_t n, Dtype dtype, bool *recycled) {
  return empty(steal_or_throw(PyLong_FromSsize_t(n)), dtype, recycled);
}

std::optional<ArrayView> view(nb::handle obj, bool writable) {
  types();  // numpy's C API imported
  // The type check and every field below are the array object's own: a
  // subclass's __len__, dtype, flags or __buffer__ cannot change them.
  if (!PyArray_Check(obj.ptr())) return std::nullopt;
  auto *a = reinterpret_cast<PyArrayObject *>(obj.ptr());
  std::optional<Dtype> d;
  if (PyArray_TYPE(a) == NPY_DOUBLE) d = Dtype::float64;
  if (PyArray_TYPE(a) == NPY_CDOUBLE) d = Dtype::complex128;
  if (!d || PyArray_NDIM(a) != 1 || !PyArray_ISNOTSWAPPED(a) || !PyArray_ISALIGNED(a) ||
      (writable && !PyArray_ISWRITEABLE(a)))
    return std::nullopt;
  const npy_intp item = *d == Dtype::float64 ? 8 : 16;
  // The stride of an array of at most one element means nothing (numpy
  // gives an empty one 0): such an array is contiguous.
  const npy_intp stride = PyArray_DIMS(a)[0] <= 1 ? item : PyArray_STRIDES(a)[0];
  if (stride % item != 0) return std::nullopt;
  return ArrayView{*d, PyArray_DATA(a), PyArray_DIMS(a)[0], stride / item};
}

ArrayView own_view(nb::handle obj) {
  auto v = view(obj, true);
  if (!v) raise(PyExc_SystemError, "a new numpy array is not a writable 1-D float64/complex128 array");
  return *v;
}

HeldBuffer::HeldBuffer(nb::handle obj, bool writable, const char *what) {
  const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
  if (PyObject_GetBuffer(obj.ptr(), &b_, flags) < 0) {
    PyErr_Clear();
    PyErr_Format(PyExc_ValueError, "%s must be a C-contiguous%s array, not %s", what, writable ? " writable" : "",
                 Py_TYPE(obj.ptr())->tp_name);
    rethrow();
  }
  const char *f = b_.format ? b_.format : "B";
  if (*f == '@') ++f;
  if (f[0] && !f[1]) code_ = f[0];
}

NumKind num_kind(nb::handle v) {
  PyObject *o = v.ptr();
  if (PyFloat_Check(o) || PyLong_Check(o)) return NumKind::real;
  if (PyComplex_Check(o)) return NumKind::complex;
  const NumpyTypes &t = types();
  int r = PyObject_IsInstance(o, t.real_scalars.ptr());
  if (r < 0) rethrow();
  if (r) return NumKind::real;
  r = PyObject_IsInstance(o, t.complex_scalars.ptr());
  if (r < 0) rethrow();
  return r ? NumKind::complex : NumKind::other;
}

}  // namespace halvane::py
