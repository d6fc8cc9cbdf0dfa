// The parse phase of pdc2pulse.
#include "modules/wavespec_handling/driver_parse.hpp"
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <tuple>
#include "kernels/grid.hpp"
#include "domain/reals.hpp"
#include "py/arith.hpp"
#include "py/mapping.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/reprs.hpp"
#include "py/unpack.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;
namespace hd = halvane::domain;
namespace hk = halvane::kernels;
using hk::cdouble;
using hd::add, hp::mul, hp::truediv;
constexpr auto sub = hd::subtract;


namespace {

/// A real number the kernels take as the driver's arithmetic would: a float
/// (numpy float64 included) or an int small enough to be exact as a double.
std::optional<double> plain_real(nb::handle v) {
  if (PyFloat_Check(v.ptr())) return PyFloat_AS_DOUBLE(v.ptr());
  if (!PyLong_Check(v.ptr())) return std::nullopt;
  int overflow = 0;
  long long x = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
  constexpr long long exact = 1LL << 53;
  if (overflow || x > exact || x < -exact) return std::nullopt;
  return static_cast<double>(x);
}

/// A real or complex scalar that multiplies complex128 arrays.
std::optional<cdouble> plain_number(nb::handle v) {
  if (auto r = plain_real(v)) return cdouble{*r, 0};
  if (hp::num_kind(v) == hp::NumKind::other) return std::nullopt;
  return hp::to_complex(v);
}

/// numpy.<name>, kept for the life of the interpreter.
nb::handle np_attr(const char *name) { return nb::object(hp::numpy().attr(name)).release(); }

/// The sample bounds [lo, hi) of seq[start:stop] over n samples.
std::pair<std::size_t, std::size_t> slice_bounds(nb::handle start, nb::handle stop,
                                                 std::size_t n) {
  nb::object s = hp::steal_or_throw(PySlice_New(start.ptr(), stop.ptr(), nullptr));
  Py_ssize_t lo, hi, step;
  if (PySlice_Unpack(s.ptr(), &lo, &hi, &step) < 0) hp::rethrow();
  PySlice_AdjustIndices(static_cast<Py_ssize_t>(n), &lo, &hi, step);
  return {static_cast<std::size_t>(lo), static_cast<std::size_t>(std::max(lo, hi))};
}

}  // namespace

struct LineParser::Bounds {
  bool native;
  std::int64_t st = 0, ed = 0;  ///< when native
  nb::object st_obj, ed_obj;    ///< what a rebound (or non-native) rng returned
  double center = 0;            ///< (width + plateau) / 2 + pos, when native
};

struct LineParser::PulseState {
  hk::Pulse p;
  bool native = true;   ///< p describes the envelope so far
  bool rotated = false; ///< p's phase and detuning are set
  nb::object sh;        ///< the envelope so far, once not native
  nb::object lo, hi;    ///< the slice bounds as rng gave them, if not native
  nb::object wX;        ///< X[st:ed], once needed
  /// The pulse centre from the bounds' reads, while no code outside this
  /// parser can have run since (and so changed the description).
  std::optional<double> center;
};

LineParser::LineParser(hk::Line &line, nb::handle X, nb::handle N, nb::handle srate,
                       nb::handle tx_st, nb::handle gof)
    : line_(line), X_(X), N_(N), srate_(srate), tx_st_(tx_st),
      st_plain_(plain_real(tx_st)), srate_plain_(plain_real(srate)),
      current_bias_(nb::borrow(gof)) {
  line_.srate = srate_plain_.value_or(0);  // used only when srate_plain_ is set
}

void LineParser::ensure_grid() {
  if (line_.grid_ready) return;
  hk::linspace(line_.t0, line_.t1, line_.n, line_.X);
  line_.grid_ready = true;
}

nb::object LineParser::grid_slice(nb::handle lo, nb::handle hi) {
  ensure_grid();
  nb::object s = hp::steal_or_throw(PySlice_New(lo.ptr(), hi.ptr(), nullptr));
  return hp::steal_or_throw(PyObject_GetItem(X_.ptr(), s.ptr()));
}

const cdouble *LineParser::keep_array(nb::handle arr, std::size_t n) {
  auto v = hp::view(arr);
  if (!v || v->dtype != hp::Dtype::complex128 || v->stride != 1 ||
      static_cast<std::size_t>(v->size) != n)
    hp::raise(PyExc_TypeError, "a pulse's samples must be a complex array of its slice's length");
  keep.append(arr);
  return v->cplx();
}

LineParser::Bounds LineParser::bounds(nb::handle pd) {
  if (names.original(RNG) && PyDict_CheckExact(pd.ptr()) && st_plain_ && srate_plain_) {
    auto w = plain_real(hp::getitem(pd, HV_KEY("width")));
    auto p = plain_real(hp::getitem(pd, HV_KEY("plateau")));
    auto pos = plain_real(hp::getitem(pd, HV_KEY("pos")));
    if (w && p && pos) {
      auto r = hk::sample_range(*pos, *w, *p, *st_plain_, *srate_plain_,
                                static_cast<std::int64_t>(line_.n));
      if (r.status == hk::SampleRange::ok) return {true, r.first, r.end, {}, {}, (*w + *p) / 2 + *pos};
    }
  }
  // Anything else, errors included, is rng's own business.
  nb::object rng = names.current(RNG);
  auto [st, ed] = hp::unpack<2>(rng(pd, tx_st_, srate_, N_));
  return {false, 0, 0, st, ed, 0};
}

void LineParser::entry(nb::handle pd, std::size_t order) {
  Bounds b = bounds(pd);
  if (hp::contains(pd, HV_KEY("edge_shape")))
    level_step(pd, order);
  else
    pulse(pd, b, order);
}

void LineParser::level_step(nb::handle pd, std::size_t order) {
  nb::object table = names.current(SHAPE_TABLE);
  nb::object edge_fn = hp::getitem(table, hp::getitem(pd, HV_KEY("edge_shape")));

  nb::object to_set_bias = hp::getitem(pd, HV_KEY("amp"));
  nb::object A = sub(to_set_bias, current_bias_);
  nb::object B = current_bias_;
  // Sequenced reads: the operands of one C++ call are evaluated in no set
  // order, and a description that is not a dict sees the order of its reads.
  nb::object pos = hp::getitem(pd, HV_KEY("pos"));
  // A step writes from its own first sample, max(a, 0) with
  // a = int((pos - st) * srate): the pulses' guard is not used for steps.
  nb::object a = hp::steal_or_throw(PyNumber_Long(mul(sub(pos, tx_st_), srate_).ptr()));
  if (PyObject_RichCompareBool(a.ptr(), nb::int_(0).ptr(), Py_LT) == 1) a = nb::int_(0);
  std::size_t first = slice_bounds(a, nb::none(), line_.n).first;
  nb::object x0 = add(pos, truediv(hp::getitem(pd, HV_KEY("width")), nb::int_(2)));
  nb::object w = hp::getitem(pd, HV_KEY("width"));

  hk::LevelStep step{order, first};
  auto x0d = plain_real(x0), wd = plain_real(w);
  auto Ac = plain_number(A), Bc = plain_number(B);
  if (x0d && wd && Ac && Bc && is_native_sine_edge(edge_fn)) {
    step.x0 = *x0d;
    step.w = *wd;
    step.A = *Ac;
    step.B = *Bc;
  } else {
    nb::object edge = add(mul(A, edge_fn(grid_slice(a, nb::none()), x0, w)), B);
    // W[st:] = edge: numpy's casting and broadcasting into the tail.
    nb::object tail = hp::empty(static_cast<Py_ssize_t>(line_.n - first), hp::Dtype::complex128);
    if (PyObject_SetItem(tail.ptr(), Py_Ellipsis, edge.ptr()) < 0) hp::rethrow();
    step.values = keep_array(tail, line_.n - first);
  }
  plan.steps.push_back(step);
  current_bias_ = to_set_bias;
}

void LineParser::pulse(nb::handle pd, const Bounds &b, std::size_t order) {
  PulseState s;
  s.p.order = order;
  if (b.native) {
    if (b.ed - b.st < 2) return;
    s.p.first = static_cast<std::size_t>(b.st);
    s.p.end = static_cast<std::size_t>(b.ed);
    s.center = b.center;
  } else {
    int skip = PyObject_RichCompareBool(sub(b.ed_obj, b.st_obj).ptr(), nb::int_(2).ptr(), Py_LT);
    if (skip < 0) hp::rethrow();
    if (skip) return;
    std::tie(s.p.first, s.p.end) = slice_bounds(b.st_obj, b.ed_obj, line_.n);
    s.lo = b.st_obj;
    s.hi = b.ed_obj;
  }
  envelope(s, pd);
  drag(s, pd, nb::handle());
  // pd.get('drag_list', []): a dict without the key needs no empty list.
  nb::object drags;
  if (PyDict_CheckExact(pd.ptr())) {
    if (PyObject *v = PyDict_GetItemWithError(pd.ptr(), HV_KEY("drag_list").ptr()))
      drags = nb::borrow(v);
    else if (PyErr_Occurred())
      hp::rethrow();
  } else {
    drags = hp::get(pd, HV_KEY("drag_list"), nb::list());
  }
  if (drags) {
    if (!PyList_CheckExact(drags.ptr()) && !PyTuple_CheckExact(drags.ptr())) s.center.reset();
    nb::object it = hp::steal_or_throw(PyObject_GetIter(drags.ptr()));
    while (PyObject *d_ = PyIter_Next(it.ptr())) {
      nb::object d = nb::steal(d_);
      hp::check_signals();
      drag(s, pd, d);
    }
    if (PyErr_Occurred()) hp::rethrow();
  }
  rotation(s, pd);
  carrier_and_sum(s, pd);
}

void LineParser::envelope(PulseState &s, nb::handle pd) {
  // `shape` is read anew for the type test, the table key, the callable test
  // and the call, as `shapeTable[pd['shape']]` / `pd['shape'](...)` do: a
  // description that is not a dict may answer each read differently.
  nb::object shape = hp::getitem(pd, HV_KEY("shape"));
  nb::object fn;
  std::optional<hk::Shape> k;
  if (Py_IS_TYPE(shape.ptr(), &PyUnicode_Type)) {
    nb::object table = names.current(SHAPE_TABLE);
    if (!PyDict_CheckExact(table.ptr())) s.center.reset();
    fn = hp::getitem(table, hp::getitem(pd, HV_KEY("shape")));
    k = native_shape(fn);
  } else if (shape = hp::getitem(pd, HV_KEY("shape")); PyCallable_Check(shape.ptr())) {
    fn = hp::getitem(pd, HV_KEY("shape"));
    k = native_shape(fn);
  } else {
    // The shape's own repr may fail: that must not replace this error.
    PyErr_Format(PyExc_TypeError, "pulse shape %s is neither a str nor callable", hp::safe_repr(shape).c_str());
    hp::rethrow();
  }
  s.p.drag_first = plan.drags.size();
  if (k && PyDict_CheckExact(pd.ptr())) {
    try {
      s.p.params = read_shape_params(*k, pd);
      s.p.shape = *k;
      return;
    } catch (nb::python_error &e) {
      // A value the kernels do not take; the shape itself decides what it means.
      if (!e.matches(PyExc_TypeError)) throw;
    }
  }
  s.native = false;
  s.sh = fn(pulse_times(s), pd, nb::dict());
}

nb::handle LineParser::pulse_times(PulseState &s) {
  if (!s.wX) {
    if (!s.lo) {
      s.lo = nb::int_(s.p.first);
      s.hi = nb::int_(s.p.end);
    }
    s.wX = grid_slice(s.lo, s.hi);
  }
  return s.wX;
}

void LineParser::to_python(PulseState &s) {
  if (!s.native) return;
  ensure_grid();
  const std::size_t n = s.p.end - s.p.first;
  nb::object arr = hp::empty(static_cast<Py_ssize_t>(n), hp::Dtype::complex128);
  cdouble *out = hp::own_view(arr).cplx();
  std::vector<cdouble> scratch(2 * n);
  const double *X = line_.X + s.p.first;
  hk::envelope(s.p.shape, s.p.params, X, n, out);
  for (std::size_t j = 0; j < s.p.drag_count; ++j)
    hk::add_drag(out, n, line_.srate, plan.drags[s.p.drag_first + j], scratch.data());
  if (s.rotated)
    hk::rotate(out, X, n, s.p.K, s.p.detuned, s.p.omega, s.p.center, scratch.data());
  plan.drags.resize(s.p.drag_first);
  s.p.drag_count = 0;
  s.sh = arr;
  s.native = false;
}

void LineParser::drag(PulseState &s, nb::handle pd, nb::handle coef) {
  nb::object d;
  if (s.native && srate_plain_ && names.original(GRAD)) {
    d = coef ? nb::borrow(coef) : hp::get(pd, HV_KEY("drag_scale"), nb::int_(0));
    if (auto dc = plain_number(d)) {
      plan.drags.push_back(*dc);
      ++s.p.drag_count;
      return;
    }
  }
  to_python(s);
  static nb::handle j = PyComplex_FromDoubles(0, 1);
  nb::object grad = names.current(GRAD);
  nb::object term = mul(mul(j, grad(s.sh)), srate_);
  if (!d) d = coef ? nb::borrow(coef) : hp::get(pd, HV_KEY("drag_scale"), nb::int_(0));
  s.sh = hd::inplace_add(s.sh, mul(term, d));
}

void LineParser::rotation(PulseState &s, nb::handle pd) {
  nb::object drag_t = hp::get(pd, HV_KEY("drag_detuning"), nb::int_(0));
  nb::object center;
  if (!s.native || !s.center) {
    // width, plateau, their sum, then pos, as (width + plateau)/2 + pos evaluates.
    nb::object width = hp::getitem(pd, HV_KEY("width"));
    nb::object half = truediv(add(width, hp::getitem(pd, HV_KEY("plateau"))), nb::int_(2));
    center = add(half, hp::getitem(pd, HV_KEY("pos")));
  }
  nb::object amp_scale = hp::get(pd, HV_KEY("amp_scale"), nb::int_(1));
  nb::object phase = hp::getitem(pd, HV_KEY("phase"));
  nb::object phase1 = hp::getitem(pd, HV_KEY("phase1"));
  if (s.native) {
    auto dt = plain_real(drag_t), p0 = plain_real(phase), p1 = plain_real(phase1);
    auto c = center ? plain_real(center) : s.center;
    auto k = plain_number(amp_scale);
    if (dt && c && p0 && p1 && k && names.original(NP_EXP)) {
      const double ph = *p0 + *p1;
      s.p.K = hk::cmul(*k, cdouble{std::cos(ph), std::sin(ph)});
      s.p.detuned = *dt != 0;
      s.p.omega = 2.0 * std::numbers::pi * *dt;
      s.p.center = *c;
      s.rotated = true;
      return;
    }
    to_python(s);
  }
  if (!center) center = nb::float_(*s.center);
  static nb::handle j = PyComplex_FromDoubles(0, 1), j2pi = PyComplex_FromDoubles(0, 2.0 * std::numbers::pi);
  nb::object K = mul(amp_scale, names.current(NP_EXP)(mul(j, add(phase, phase1))));
  s.sh = mul(K, s.sh);
  s.sh = mul(s.sh, names.current(NP_EXP)(mul(mul(j2pi, drag_t), sub(pulse_times(s), center))));
}

void LineParser::carrier_and_sum(PulseState &s, nb::handle pd) {
  // `carrier` is looked up before pd['freq'] is read. While the pulse is
  // native, pd is an exact dict, whose reads run no code, so the lookup may
  // come later; otherwise it comes first.
  nb::object carrier;
  if (!s.native) carrier = names.current(CARRIER);
  nb::object freq = hp::getitem(pd, HV_KEY("freq"));
  if (s.native) {
    if (auto f = plain_real(freq); f && names.original(CARRIER)) {
      s.p.freq = *f;
      plan.pulses.push_back(s.p);
      return;
    }
    carrier = names.current(CARRIER);
    to_python(s);
  }
  nb::object cr = carrier(pulse_times(s), freq, nb::int_(0), nb::int_(0));
  nb::object prod = mul(s.sh, cr);
  // W[st:ed] += sh * cr and S[st:ed] += sh, with numpy's broadcasting and
  // casting, into zeros that the renderer adds where the pulse survives.
  const std::size_t n = s.p.end - s.p.first;
  static nb::handle zeros = np_attr("zeros"), c128 = np_attr("complex128");
  nb::object add_W = hd::inplace_add(zeros(n, c128), prod);
  s.p.add_W = keep_array(add_W, n);
  nb::object add_S = hd::inplace_add(zeros(n, c128), s.sh);
  s.p.add_S = keep_array(add_S, n);
  plan.pulses.push_back(s.p);
}

}  // namespace halvane::wavespec_handling
