// Scalar arithmetic on schedule times.
#include "domain/reals.hpp"
#include <cmath>
#include "py/ndarrays.hpp"

namespace halvane::domain {
using namespace halvane::py;

namespace {

/// Integers up to 2**53 convert to double exactly, as both int and numpy do.
constexpr long long exact_int = 1LL << 53;

/// numpy's float64 and int64 scalars are a PyObject header followed by the
/// value (a float64 is laid out as the float it derives from). numpy makes
/// them that way itself: allocate, then store the value. The layout is
/// checked once against scalars numpy made; if it differs, values are read
/// and made through numpy's own protocols instead.
struct NumpyScalars {
  PyTypeObject *f64 = nullptr, *i64 = nullptr;
  bool direct = false;
};

long long &int64_slot(PyObject *o) {
  return *reinterpret_cast<long long *>(reinterpret_cast<char *>(o) + sizeof(PyObject));
}

const NumpyScalars &scalars() {
  static NumpyScalars s = [] {
    nb::handle np = numpy();
    NumpyScalars r;
    // Kept for the life of the interpreter, like the numpy module.
    r.f64 = reinterpret_cast<PyTypeObject *>(nb::object(np.attr("float64")).release().ptr());
    r.i64 = reinterpret_cast<PyTypeObject *>(nb::object(np.attr("int64")).release().ptr());
    nb::object i = nb::handle(reinterpret_cast<PyObject *>(r.i64))(nb::int_(-1234567890123LL));
    r.direct = r.i64->tp_basicsize == static_cast<Py_ssize_t>(sizeof(PyObject) + sizeof(long long)) &&
               r.f64->tp_basicsize == PyFloat_Type.tp_basicsize && int64_slot(i.ptr()) == -1234567890123LL;
    return r;
  }();
  return s;
}

nb::object make_f64(double v) {
  const NumpyScalars &s = scalars();
  if (s.direct) {
    PyObject *o = s.f64->tp_alloc(s.f64, 0);
    if (!o) rethrow();
    reinterpret_cast<PyFloatObject *>(o)->ob_fval = v;
    return nb::steal(o);
  }
  nb::object f = steal_or_throw(PyFloat_FromDouble(v));
  return steal_or_throw(PyObject_CallOneArg(reinterpret_cast<PyObject *>(s.f64), f.ptr()));
}

nb::object make_i64(long long v) {
  const NumpyScalars &s = scalars();
  if (s.direct) {
    PyObject *o = s.i64->tp_alloc(s.i64, 0);
    if (!o) rethrow();
    int64_slot(o) = v;
    return nb::steal(o);
  }
  nb::object i = steal_or_throw(PyLong_FromLongLong(v));
  return steal_or_throw(PyObject_CallOneArg(reinterpret_cast<PyObject *>(s.i64), i.ptr()));
}

/// A time seen from C++: its value, whether it is a float (or an int), and
/// whether it is a numpy scalar.
struct Real {
  double value = 0;
  bool is_float = false, is_numpy = false;
};

/// Classify `o`; false for anything these helpers leave to the interpreter.
bool classify(nb::handle o, Real &r) {
  PyObject *p = o.ptr();
  PyTypeObject *t = Py_TYPE(p);
  if (t == &PyFloat_Type) {
    r = {PyFloat_AS_DOUBLE(p), true, false};
    return true;
  }
  long long v;
  if (t == &PyLong_Type) {
    int overflow = 0;
    v = PyLong_AsLongLongAndOverflow(p, &overflow);
    if (overflow || (v == -1 && PyErr_Occurred())) {
      PyErr_Clear();
      return false;
    }
    if (v > exact_int || v < -exact_int) return false;
    r = {static_cast<double>(v), false, false};
    return true;
  }
  const NumpyScalars &s = scalars();
  if (t == s.f64) {
    r = {PyFloat_AS_DOUBLE(p), true, true};
    return true;
  }
  if (t == s.i64) {
    if (s.direct) {
      v = int64_slot(p);
    } else if ((v = PyLong_AsLongLong(p)) == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    if (v > exact_int || v < -exact_int) return false;
    r = {static_cast<double>(v), false, true};
    return true;
  }
  return false;
}

nb::object make(double v, bool numpy_scalar) {
  return numpy_scalar ? make_f64(v) : steal_or_throw(PyFloat_FromDouble(v));
}

/// a (op) b for the cases computed here; an empty object otherwise.
template <typename Op>
nb::object combine(nb::handle a, nb::handle b, Op op) {
  Real x, y;
  if (!classify(a, x) || !classify(b, y) || !(x.is_float || y.is_float)) return {};
  double v = op(x.value, y.value);
  bool numpy_scalar = x.is_numpy || y.is_numpy;
  // numpy warns on overflow and on invalid results; let it.
  if (numpy_scalar && !std::isfinite(v) && std::isfinite(x.value) && std::isfinite(y.value)) return {};
  if (numpy_scalar && std::isnan(v) && !std::isnan(x.value) && !std::isnan(y.value)) return {};
  return make(v, numpy_scalar);
}

}  // namespace

nb::object add(nb::handle a, nb::handle b) {
  nb::object r = combine(a, b, [](double x, double y) { return x + y; });
  return r.is_valid() ? r : steal_or_throw(PyNumber_Add(a.ptr(), b.ptr()));
}

nb::object inplace_add(nb::handle a, nb::handle b) {
  nb::object r = combine(a, b, [](double x, double y) { return x + y; });
  return r.is_valid() ? r : steal_or_throw(PyNumber_InPlaceAdd(a.ptr(), b.ptr()));
}

nb::object subtract(nb::handle a, nb::handle b) {
  nb::object r = combine(a, b, [](double x, double y) { return x - y; });
  return r.is_valid() ? r : steal_or_throw(PyNumber_Subtract(a.ptr(), b.ptr()));
}

static bool compare(nb::handle a, nb::handle b, int op) {
  Real x, y;
  if (classify(a, x) && classify(b, y)) return op == Py_GT ? x.value > y.value : x.value < y.value;
  int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), op);
  if (r < 0) rethrow();
  return r == 1;
}

bool greater(nb::handle a, nb::handle b) { return compare(a, b, Py_GT); }
bool less(nb::handle a, nb::handle b) { return compare(a, b, Py_LT); }

nb::object reduce_extreme(std::span<const nb::handle> values, bool maximum, nb::handle reduce) {
  Real best;
  bool any_float = false, nan = false, zero_pos = false, zero_neg = false, native = !values.empty();
  for (std::size_t i = 0; native && i < values.size(); ++i) {
    Real r;
    if (!classify(values[i], r)) {
      native = false;
      break;
    }
    any_float |= r.is_float;
    if (std::isnan(r.value)) nan = true;
    // An int 0 becomes +0.0 in numpy's float array.
    if (r.value == 0) (std::signbit(r.value) ? zero_neg : zero_pos) = true;
    if (i == 0 || (maximum ? r.value > best.value : r.value < best.value)) best = r;
  }
  // Which zero numpy keeps among zeros of both signs depends on its loop.
  if (native && !nan && best.value == 0 && zero_pos && zero_neg) native = false;
  if (!native) {
    nb::object list = steal_or_throw(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i)
      PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), nb::borrow(values[i]).release().ptr());
    return reduce(list);
  }
  if (nan) return make(NAN, true);
  if (any_float) return make(best.value, true);
  // All integers: numpy makes an int64 array and returns an int64 scalar.
  return make_i64(static_cast<long long>(best.value));
}

}  // namespace halvane::domain
