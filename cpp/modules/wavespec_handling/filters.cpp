// halvane.wavespec_handling: the pre-distortion filters cal_iir_coef,
// IIR_filtering, FIR_filtering and fix.
//
// Scalar bookkeeping (coefficients, sample period, start index) runs as the
// interpreter's arithmetic on the given objects, so every type and error is
// what the numpy formulas give; only the per-sample loops are native. An IIR
// stage whose `lfilter` is still SciPy's runs as kernels::iir_filter on
// float64 and complex128 arrays; any other case calls `lfilter` itself.
#include "modules/wavespec_handling/filters.hpp"
#include <algorithm>
#include <vector>
#include "kernels/fir.hpp"
#include "py/args.hpp"
#include "domain/reals.hpp"
#include "py/arith.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/unpack.hpp"

#include "modules/wavespec_handling/collaborators.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;
namespace hd = halvane::domain;
namespace hk = halvane::kernels;

namespace {

using hd::add, hp::mul, hp::item;
constexpr auto sub = hd::subtract;
nb::object num(PyObject *o) { return hp::steal_or_throw(o); }
nb::object np_copy(nb::handle a) { return hp::numpy().attr("copy")(a); }
template <typename... T>
nb::list list_of(const T &...items) {
  nb::list l;
  (l.append(items), ...);
  return l;
}

/// The stage of three coefficients when all are numbers; `real` is set when
/// none is complex.
std::optional<hk::IirStage> stage_of(nb::handle b0, nb::handle b1, nb::handle a1, bool &real) {
  hp::NumKind k[3] = {hp::num_kind(b0), hp::num_kind(b1), hp::num_kind(a1)};
  real = true;
  for (auto kind : k) {
    if (kind == hp::NumKind::other) return std::nullopt;
    real = real && kind == hp::NumKind::real;
  }
  return hk::IirStage{hp::to_complex(b0), hp::to_complex(b1), hp::to_complex(a1)};
}

nb::object iir_filtering(nb::handle b0, nb::handle b1, nb::handle a1, nb::handle waveform) {
  nb::object neg_a1 = num(PyNumber_Negative(a1.ptr()));
  nb::object lfilter = names.current(LFILTER);
  nb::object x = item(waveform, 1);
  if (names.is_original(LFILTER, lfilter)) {
    bool real;
    auto stage = stage_of(b0, b1, a1, real);
    auto v = hp::view(x);
    if (stage && v && (v->dtype == hp::Dtype::complex128 || real)) {
      nb::object y = hp::empty(v->size, v->dtype);
      hp::ArrayView out = hp::own_view(y);
      auto n = static_cast<std::size_t>(v->size);
      if (v->dtype == hp::Dtype::float64)
        hk::iir_filter(*stage, v->real(), v->stride, n, out.real());
      else
        hk::iir_filter(*stage, v->cplx(), v->stride, n, out.cplx());
      return y;
    }
  }
  nb::list a, b;
  a.append(nb::int_(1));
  a.append(neg_a1);
  b.append(b0);
  b.append(b1);
  nb::object zi = hp::numpy().attr("zeros")(nb::int_(1));
  nb::object r = lfilter(b, a, x, nb::int_(-1), zi);
  auto [y_filtered, final_state] = hp::unpack<2>(r);
  return hp::numpy().attr("array")(y_filtered);
}

/// The FIR taps adjust * b[k] for k < count, as doubles or complex numbers.
template <typename T>
std::vector<T> fir_taps(nb::handle b, nb::handle adjust, std::size_t count) {
  std::vector<T> taps(count);
  bool warned = false;
  for (std::size_t k = 0; k < count; ++k) {
    nb::object t = mul(adjust, item(b, static_cast<Py_ssize_t>(k)));
    if constexpr (std::is_same_v<T, double>) {
      if (hp::num_kind(t) == hp::NumKind::complex) {
        // Storing a complex sum into a real array keeps its real part, with
        // numpy's warning.
        if (!warned && PyErr_WarnEx(hp::numpy().attr("exceptions").attr("ComplexWarning").ptr(),
                                    "Casting complex values to real discards the imaginary part",
                                    1) < 0)
          hp::rethrow();
        warned = true;
        taps[k] = hp::to_complex(t).real();
      } else {
        taps[k] = hp::to_double(t);
      }
    } else {
      taps[k] = hp::to_complex(t);
    }
  }
  return taps;
}

[[noreturn]] void raise_index(Py_ssize_t n, Py_ssize_t len) {
  PyErr_Format(PyExc_IndexError, "index %zd is out of bounds for axis 0 with size %zd", n, len);
  hp::rethrow();
}

template <typename T>
void fir_apply(T *y, Py_ssize_t len, Py_ssize_t first, std::size_t count, nb::handle b,
               nb::handle adjust) {
  std::vector<T> taps = fir_taps<T>(b, adjust, count);
  std::vector<T> window(count);
  // Every output comes from the input samples, so the window is computed
  // whole before it is written back over them.
  hk::fir_window(y, len, first, count, taps.data(), window.data());
  for (std::size_t j = 0; j < count; ++j) {
    Py_ssize_t n = first + static_cast<Py_ssize_t>(j);
    y[n < 0 ? n + len : n] = window[j];
  }
}

/// Whether reading b[k] and waveform[1] once, rather than for every term,
/// is invisible: exact lists and tuples (and an exact array for the taps).
bool fir_reads_unseen(nb::handle b, nb::handle waveform) {
  static nb::handle ndarray = nb::object(hp::numpy().attr("ndarray")).release();
  auto plain = [](nb::handle o) { return PyList_CheckExact(o.ptr()) || PyTuple_CheckExact(o.ptr()); };
  return plain(waveform) &&
         (plain(b) || Py_TYPE(b.ptr()) == reinterpret_cast<PyTypeObject *>(ndarray.ptr()));
}

/// The window term by term, reading b[k] and waveform[1][n - k] for each,
/// for sequences whose reads their owner can see.
void fir_by_items(nb::handle y, Py_ssize_t first, Py_ssize_t end, nb::handle b,
                  nb::handle adjust, nb::handle waveform) {
  for (Py_ssize_t n = first; n < end; ++n) {
    nb::object idx = nb::int_(n);
    if (PyObject_SetItem(y.ptr(), idx.ptr(), nb::int_(0).ptr()) < 0) hp::rethrow();
    for (Py_ssize_t k = 0; k <= n - first; ++k) {
      nb::object t = mul(adjust, item(b, k));
      t = mul(t, item(item(waveform, 1), n - k));
      nb::object sum = hd::inplace_add(item(y, n), t);
      if (PyObject_SetItem(y.ptr(), idx.ptr(), sum.ptr()) < 0) hp::rethrow();
    }
  }
}

nb::object fir_filtering(nb::handle b, nb::handle start_time, nb::handle adjust,
                         nb::handle waveform) {
  nb::object y = np_copy(item(waveform, 1));
  nb::object X = np_copy(item(waveform, 0));
  Py_ssize_t data_len = PyObject_Length(X.ptr());
  if (data_len < 0) hp::rethrow();
  if (data_len < 2) {
    PyErr_Format(PyExc_ValueError,
                 "FIR_filtering: the sample period needs at least two samples, got %zd", data_len);
    hp::rethrow();
  }
  // The period of data_len samples spread over X[0] .. X[-1], so that
  // start_time maps to the sample at that time.
  nb::object time_period = sub(item(X, data_len - 1), item(X, 0)).attr("real");
  nb::object sampling_period = hp::truediv(time_period, nb::int_(data_len - 1));
  nb::object start = num(PyNumber_Long(
      hp::truediv(mul(start_time.attr("real"), nb::float_(1e-6)), sampling_period.attr("real")).ptr()));
  Py_ssize_t N = PyObject_Length(b.ptr());
  if (N < 0) hp::rethrow();

  int overflow = 0;
  long long first = PyLong_AsLongLongAndOverflow(start.ptr(), &overflow);
  if (overflow || first > PY_SSIZE_T_MAX || first < PY_SSIZE_T_MIN)
    hp::raise(PyExc_IndexError, "cannot fit 'int' into an index-sized integer");
  // The loop runs n = first .. first + N - 1, the last sample included, and
  // stops on reaching the end of the array.
  Py_ssize_t end = first > 0 && N > PY_SSIZE_T_MAX - first ? PY_SSIZE_T_MAX
                                                          : static_cast<Py_ssize_t>(first) + N;
  if (first <= data_len && data_len < end) end = data_len;
  if (end <= first) return y;
  if (!fir_reads_unseen(b, waveform)) {
    fir_by_items(y, static_cast<Py_ssize_t>(first), end, b, adjust, waveform);
    return y;
  }

  auto v = hp::view(y, true);
  if (!v || v->stride != 1) {
    PyErr_Format(PyExc_TypeError, "FIR_filtering needs float64 or complex128 samples, not %R",
                 y.attr("dtype").ptr());
    hp::rethrow();
  }
  // The first write out of range, in the loop's order, raises numpy's IndexError.
  Py_ssize_t len = v->size;
  if (first < -len) raise_index(static_cast<Py_ssize_t>(first), len);
  if (end > len) raise_index(std::max(static_cast<Py_ssize_t>(first), len), len);
  auto count = static_cast<std::size_t>(end - first);
  if (v->dtype == hp::Dtype::float64)
    fir_apply(v->real(), len, static_cast<Py_ssize_t>(first), count, b, adjust);
  else
    fir_apply(v->cplx(), len, static_cast<Py_ssize_t>(first), count, b, adjust);
  return y;
}

nb::object fix(nb::handle X, nb::handle Y, nb::handle iir, nb::handle fir) {
  nb::object Yp = np_copy(Y);
  if (!iir.is_none()) {
    nb::object pass = hp::numpy().attr("array")(nb::make_tuple(1, -1, 1));
    nb::object it = num(PyObject_GetIter(iir.ptr()));
    while (PyObject *F_ = PyIter_Next(it.ptr())) {
      nb::object F = nb::steal(F_);
      hp::check_signals();
      auto [b0, b1, a1] = hp::unpack<3>(add(hp::numpy().attr("array")(F), pass));
      nb::object f = names.current(IIR_FILTERING);
      if (names.is_original(IIR_FILTERING, f)) {
        nb::object arg = names.original(LFILTER) ? Yp : np_copy(Yp);
        Yp = iir_filtering(b0, b1, a1, nb::make_tuple(X, arg));
      } else {
        Yp = f(b0, b1, a1, list_of(X, np_copy(Yp)));
      }
    }
    if (PyErr_Occurred()) hp::rethrow();
  }
  if (!fir.is_none()) {
    auto [b, start_time, adjust] = hp::unpack<3>(fir);
    nb::object f = names.current(FIR_FILTERING);
    if (names.is_original(FIR_FILTERING, f))
      Yp = fir_filtering(b, start_time, adjust, nb::make_tuple(X, Yp));
    else
      Yp = f(b, start_time, adjust, list_of(X, np_copy(Yp)));
  }
  return Yp;
}

}  // namespace

nb::object cal_iir_coef(nb::handle input_list) {
  auto [A, B, tau, Ts] = hp::unpack<4>(input_list);
  nb::object two = nb::int_(2), one = nb::int_(1);
  nb::object two_A_tau = mul(mul(two, A), tau);
  nb::object two_B_tau = mul(mul(two, B), tau);
  nb::object A_Ts = mul(A, Ts);
  nb::object lambda_val = add(add(two_A_tau, two_B_tau), A_Ts);
  nb::object c0 = sub(hp::truediv(add(mul(two, tau), Ts), lambda_val), one);
  nb::object c1 = add(hp::truediv(add(mul(nb::int_(-2), tau), Ts), lambda_val), one);
  nb::object c2 = sub(hp::truediv(sub(add(two_A_tau, two_B_tau), A_Ts), lambda_val), one);
  return list_of(c0, c1, c2);
}

std::optional<hk::IirStage> native_stage(nb::handle F) {
  nb::object pass = hp::numpy().attr("array")(nb::make_tuple(1, -1, 1));
  auto [b0, b1, a1] = hp::unpack<3>(add(hp::numpy().attr("array")(F), pass));
  if (!names.original(IIR_FILTERING) ||
      !names.original(LFILTER))
    return std::nullopt;
  bool real;
  return stage_of(b0, b1, a1, real);
}

void export_filters(nb::module_ &m) {
  m.def("cal_iir_coef", &cal_iir_coef, hp::arg("input_list"),
        nb::sig("def cal_iir_coef(input_list: typing.Sequence) -> list"),
        "IIR coefficients that undo a first-order model of a line's step response.\n\n"
        "Parameters\n----------\n"
        "input_list : sequence of four numbers\n"
        "    ``[A, B, tau, Ts]``: the step response A + B*exp(-t/tau) and the\n"
        "    sample period Ts, in the unit of tau.\n\n"
        "Returns\n-------\nlist\n"
        "    ``[b0 - 1, b1 + 1, a1 - 1]`` of the bilinear discretisation of\n"
        "    (1 + tau*s) / (A + (A + B)*tau*s), with lambda = 2*A*tau + 2*B*tau + A*Ts,\n"
        "    b0 = (2*tau + Ts)/lambda, b1 = (Ts - 2*tau)/lambda and\n"
        "    a1 = (2*A*tau + 2*B*tau - A*Ts)/lambda.");
  m.def("IIR_filtering", &iir_filtering, hp::arg("b0"), hp::arg("b1"), hp::arg("a1"),
        hp::arg("waveform"),
        nb::sig("def IIR_filtering(b0: typing.Any, b1: typing.Any, a1: typing.Any, "
                "waveform: typing.Sequence) -> numpy.ndarray"),
        "One first-order IIR stage, from rest.\n\n"
        "Parameters\n----------\n"
        "b0, b1, a1 : number\n"
        "    y[n] = b0*x[n] + b1*x[n-1] + a1*y[n-1].\n"
        "waveform : sequence\n    ``[X, Y]``; the samples ``Y`` are filtered.\n\n"
        "Returns\n-------\nnumpy.ndarray\n"
        "    ``lfilter([b0, b1], [1, -a1], Y, -1, zeros(1))[0]``, looked up as the\n"
        "    module's ``lfilter`` at each call.");
  m.def("FIR_filtering", &fir_filtering, hp::arg("b"), hp::arg("start_time"), hp::arg("adjust"),
        hp::arg("waveform"),
        nb::sig("def FIR_filtering(b: typing.Sequence, start_time: typing.Any, adjust: typing.Any, "
                "waveform: typing.Sequence) -> numpy.ndarray"),
        "The FIR stage over a window of samples that starts at a given time.\n\n"
        "Parameters\n----------\n"
        "b : sequence of numbers\n    Tap weights.\n"
        "start_time : number\n"
        "    Start of the window in microseconds; the index is\n"
        "    int(start_time * 1e-6 / ((X[-1] - X[0]) / (len(X) - 1))).\n"
        "adjust : number\n    Gain that multiplies every tap.\n"
        "waveform : sequence\n    ``[X, Y]``: sample times (s) and float64 or complex128 samples.\n\n"
        "Returns\n-------\nnumpy.ndarray\n"
        "    A copy of ``Y`` whose samples from the start index on, for len(b)\n"
        "    samples up to the end of the array, are the taps times ``adjust``\n"
        "    convolved with ``Y`` from the start index. ValueError for fewer than\n"
        "    two samples; IndexError when the window starts past the end.");
  m.def("fix", &fix, hp::arg("X"), hp::arg("Y"), hp::arg("iir"), hp::arg("fir"),
        nb::sig("def fix(X: numpy.ndarray, Y: numpy.ndarray, iir: typing.Iterable | None, "
                "fir: typing.Sequence | None) -> numpy.ndarray"),
        "The whole pre-distortion chain: IIR stages in order, then the FIR stage.\n\n"
        "Parameters\n----------\n"
        "X : numpy.ndarray\n    Sample times (s).\n"
        "Y : numpy.ndarray\n    Samples; never modified.\n"
        "iir : iterable or None\n"
        "    Coefficient triples from ``cal_iir_coef``; each runs through the\n"
        "    module's ``IIR_filtering``.\n"
        "fir : sequence or None\n"
        "    ``(b, start_time, adjust)`` for the module's ``FIR_filtering``.\n\n"
        "Returns\n-------\nnumpy.ndarray\n    A new array: ``Y`` after the chain.");
}

}  // namespace halvane::wavespec_handling
