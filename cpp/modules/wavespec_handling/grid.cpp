// halvane.wavespec_handling: the time-grid helpers rng, grad, fr, nr, mn and
// mpdc.
//
// fr and mn compare the given objects with the interpreter's own operators
// and return them unchanged, as the built-in min and max do; grad and nr take
// the native loops on one-dimensional float64 (and, for grad, complex128)
// arrays and hand anything else to numpy's own functions.
#include "kernels/grid.hpp"

#include "modules/wavespec_handling/exports.hpp"
#include "py/args.hpp"
#include "domain/reals.hpp"
#include "py/arith.hpp"
#include "py/mapping.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/samples.hpp"
#include "py/unpack.hpp"

namespace halvane::wavespec_handling {
namespace {

namespace hp = halvane::py;
namespace hd = halvane::domain;
namespace hk = halvane::kernels;

bool less(nb::handle a, nb::handle b) {
  int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_LT);
  if (r < 0) hp::rethrow();
  return r == 1;
}

bool greater(nb::handle a, nb::handle b) {
  int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_GT);
  if (r < 0) hp::rethrow();
  return r == 1;
}

nb::object rng(nb::handle pd, nb::handle st, nb::handle srate, nb::handle N) {
  nb::object width = hp::getitem(pd, HV_KEY("width"));
  nb::object plateau = hp::getitem(pd, HV_KEY("plateau"));
  const double w = hp::to_double(width), pl = hp::to_double(plateau);
  nb::object pos = hp::getitem(pd, HV_KEY("pos"));
  const double p = hp::to_double(pos), s = hp::to_double(st), r = hp::to_double(srate);
  const hk::SampleRange range = hk::sample_range(p, w, pl, s, r, INT64_MAX);
  if (range.status == hk::SampleRange::nan)
    hp::raise(PyExc_ValueError, "cannot convert float NaN to integer");
  if (range.status == hk::SampleRange::infinite)
    hp::raise(PyExc_OverflowError, "cannot convert float infinity to integer");
  nb::object first, end;
  if (range.status == hk::SampleRange::wide) {
    // Far outside any window: the interpreter's unbounded integers.
    nb::object a = hp::steal_or_throw(PyLong_FromDouble(range.a));
    nb::object b = hp::steal_or_throw(PyLong_FromDouble(range.b));
    nb::object five = nb::int_(5), zero = nb::int_(0);
    first = hd::subtract(a, five);
    if (less(first, zero)) first = zero;
    end = hd::add(hd::add(a, b), five);
  } else {
    first = nb::int_(range.first);
    end = hp::steal_or_throw(PyLong_FromLongLong(range.end));
  }
  // min(a + b + 5, N) is N itself when N is smaller.
  return nb::make_tuple(first, less(N, end) ? nb::borrow(N) : end);
}

bool is_exact_ndarray(nb::handle x) {
  static nb::handle ndarray = nb::object(hp::numpy().attr("ndarray")).release();
  return Py_TYPE(x.ptr()) == reinterpret_cast<PyTypeObject *>(ndarray.ptr());
}

nb::object grad(nb::handle sh) {
  Py_ssize_t n = PyObject_Length(sh.ptr());
  if (n < 0) hp::rethrow();
  if (n < 2) return hp::steal_or_throw(PyNumber_Multiply(nb::int_(0).ptr(), sh.ptr()));
  if (is_exact_ndarray(sh)) {
    if (auto v = hp::view(sh); v && v->stride == 1) {
      nb::object out = hp::empty(n, v->dtype);
      auto o = hp::view(out, true);
      const auto len = static_cast<std::size_t>(n);
      if (v->dtype == hp::Dtype::float64)
        hk::gradient(v->real(), len, o->real());
      else
        hk::gradient(v->cplx(), len, o->cplx());
      return out;
    }
  }
  return hp::numpy().attr("gradient")(sh);
}

nb::object fr(nb::handle w, nb::handle max_, nb::handle min_) {
  nb::handle r = less(max_, w) ? max_ : w;
  return nb::borrow(greater(min_, r) ? min_ : r);
}

nb::object nr(nb::handle w) {
  if (is_exact_ndarray(w)) {
    if (auto v = hp::view(w); v && v->dtype == hp::Dtype::float64 && v->stride == 1 && v->size > 0) {
      nb::object out = hp::empty(v->size, hp::Dtype::float64);
      hk::normalise(v->real(), static_cast<std::size_t>(v->size), hp::view(out, true)->real());
      return out;
    }
  }
  nb::handle np = hp::numpy();
  nb::object lo = np.attr("min")(w);
  nb::object shifted = hp::steal_or_throw(PyNumber_Subtract(w.ptr(), lo.ptr()));
  nb::object range = hp::steal_or_throw(
      PyNumber_Subtract(np.attr("max")(w).ptr(), np.attr("min")(w).ptr()));
  return hp::steal_or_throw(PyNumber_TrueDivide(shifted.ptr(), range.ptr()));
}

nb::object mn(nb::handle A, nb::handle B) {
  nb::handle lo = less(B, A) ? B : A;
  nb::handle hi = greater(B, A) ? B : A;
  return nb::make_tuple(lo, hi);
}

nb::dict mpdc(nb::args pdcs) {
  nb::dict rpdc;
  for (nb::handle pdc : pdcs) {
    nb::object items = pdc.attr("items")();
    nb::object it = hp::steal_or_throw(PyObject_GetIter(items.ptr()));
    while (PyObject *item_ = PyIter_Next(it.ptr())) {
      nb::object item = nb::steal(item_);
      hp::check_signals();
      auto [k, v] = hp::unpack<2>(item);
      int has = PyDict_Contains(rpdc.ptr(), k.ptr());
      if (has < 0) hp::rethrow();
      if (!has) hp::setitem(rpdc, k, nb::list());
      nb::object joined = hp::steal_or_throw(
          PyNumber_InPlaceAdd(hp::getitem(rpdc, k).ptr(), v.ptr()));
      hp::setitem(rpdc, k, joined);
    }
    if (PyErr_Occurred()) hp::rethrow();
  }
  return rpdc;
}

}  // namespace

void export_grid(nb::module_ &m) {
  m.def("rng", &rng, hp::arg("pd"), hp::arg("st"), hp::arg("srate"), hp::arg("N"),
        nb::sig("def rng(pd: typing.Mapping[str, typing.Any], st: float, srate: float, N: int) "
                "-> tuple[int, int]"),
        "The sample range a pulse may touch, with a guard of five samples.\n\n"
        "Parameters\n----------\n"
        "pd : dict\n    Pulse description; ``width``, ``plateau`` and ``pos`` are read.\n"
        "st : float\n    Time of the window's first sample (s).\n"
        "srate : float\n    Sample rate (samples per second).\n"
        "N : int\n    Number of samples in the window.\n\n"
        "Returns\n-------\ntuple of int\n"
        "    ``(max(a - 5, 0), min(a + b + 5, N))`` with\n"
        "    ``a = int((pos - st) * srate)`` and ``b = int((width + plateau) * srate)``.\n"
        "    The first may exceed the second for a pulse outside the window.");
  m.def("grad", &grad, hp::arg("sh"),
        nb::sig("def grad(sh: typing.Any) -> typing.Any"),
        "Sample-wise derivative, for DRAG.\n\n"
        "Parameters\n----------\n"
        "sh : array_like\n    Samples.\n\n"
        "Returns\n-------\nnumpy.ndarray\n"
        "    ``0 * sh`` when ``len(sh) < 2``, else ``numpy.gradient(sh)``: unit\n"
        "    spacing, central differences inside, one-sided at both ends. Times\n"
        "    the sample rate it is the derivative per second.");
  m.def("fr", &fr, hp::arg("w"), hp::arg("max_"), hp::arg("min_"),
        nb::sig("def fr(w: typing.Any, max_: typing.Any, min_: typing.Any) -> typing.Any"),
        "Clamp a value between two bounds.\n\n"
        "Parameters\n----------\n"
        "w : object\n    The value.\n"
        "max_, min_ : object\n    Upper and lower bound.\n\n"
        "Returns\n-------\nobject\n"
        "    ``max(min(w, max_), min_)``: one of the arguments itself, by the\n"
        "    built-ins' comparisons. When the bounds cross (``min_ > max_``) the\n"
        "    result is ``min_``.");
  m.def("nr", &nr, hp::arg("w"),
        nb::sig("def nr(w: typing.Any) -> typing.Any"),
        "Rescale to the range 0 to 1.\n\n"
        "Parameters\n----------\n"
        "w : array_like\n\n"
        "Returns\n-------\nnumpy.ndarray\n"
        "    ``(w - min(w)) / (max(w) - min(w))``; NaN everywhere when all\n"
        "    elements are equal.");
  m.def("mn", &mn, hp::arg("A"), hp::arg("B"),
        nb::sig("def mn(A: typing.Any, B: typing.Any) -> tuple[typing.Any, typing.Any]"),
        "Order two values.\n\n"
        "Parameters\n----------\n"
        "A, B : object\n\n"
        "Returns\n-------\ntuple\n"
        "    ``(min(A, B), max(A, B))``, the arguments themselves; ties (and\n"
        "    NaN) give ``(A, A)``, as the built-in ``min`` and ``max`` do.");
  m.def("mpdc", &mpdc, nb::sig("def mpdc(*pdcs: typing.Mapping[str, list]) -> dict[str, list]"),
        "Merge per-line pulse description collections.\n\n"
        "Parameters\n----------\n"
        "*pdcs : dict\n    Each maps line names to lists of pulse descriptions.\n\n"
        "Returns\n-------\ndict\n"
        "    A new dict mapping every line name, in order of first appearance,\n"
        "    to a new list of that line's entries from all arguments in order.\n"
        "    The pulse descriptions themselves are not copied.");
}

}  // namespace halvane::wavespec_handling
