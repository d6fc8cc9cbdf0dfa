// halvane.wavespec_handling: the phase maps, edges and envelope shapes
// (gaussian and netzero among them), shapeTable, and the module constants.
//
// === Rebinding ===
//
// The shapes call square, sine_edge, sine_edge_2pi, seige, seige2pi and mn by
// their module-level names, so users may rebind any of them. Each call reads
// the current bindings first. When every name on the shape's path is still
// the function made here, the shape reads its pulse description (the same
// keys in the same order, converting each value where the formula first
// computes with it, so errors come in the formula's order) and runs its
// kernel in one pass. Otherwise it runs its formula through the interpreter:
// the current bindings are called with the formula's arguments and their
// results combined with numpy's operators, so a user's function may return
// anything numpy can combine.
//
// Sample times go to the kernels and to rebound collaborators as a float64
// array (X itself when it is one already; see py/samples.hpp).
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "kernels/shapes.hpp"
#include "modules/wavespec_handling/collaborators.hpp"
#include "modules/wavespec_handling/exports.hpp"
#include "py/args.hpp"
#include "py/mapping.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/samples.hpp"
#include "py/unpack.hpp"

namespace halvane::wavespec_handling {
namespace {

namespace hp = halvane::py;
namespace hk = halvane::kernels;
using hk::Shape;
using hk::ShapeParams;

bool sine_edge_native() { return names.original(SINE_EDGE) && names.original(SEIGE) && names.original(MN); }
bool sine_edge_2pi_native() { return names.original(SINE_EDGE_2PI) && names.original(SEIGE2PI); }

// ---- reading pulse descriptions -------------------------------------------

nb::object key(nb::handle pd, nb::handle k) { return hp::getitem(pd, k); }
nb::object key_or(nb::handle pd, nb::handle k, nb::handle dflt) { return hp::get(pd, k, dflt); }

bool narrow(double width) { return std::fabs(width) < 1e-14; }

// square: pos, width, plateau, amp.
void read_square(nb::handle pd, ShapeParams &p) {
  nb::object pos = key(pd, HV_KEY("pos"));
  nb::object width = key(pd, HV_KEY("width")), plateau = key(pd, HV_KEY("plateau"));
  p.width = hp::to_double(width);
  p.plateau = hp::to_double(plateau);
  nb::object amp = key(pd, HV_KEY("amp"));
  p.pos = hp::to_double(pos);
  p.amp = hp::to_complex(amp);
}

// The sine family past its width test: [scale_a, scale_b], pos, amp,
// [left_scale], plateau, [right_scale].
void read_sine_family(Shape s, nb::handle pd, double width, ShapeParams &p) {
  p.width = width;
  nb::object a, b;
  if (s == Shape::sine) {
    a = key_or(pd, HV_KEY("scale_a"), nb::int_(0));
    b = key_or(pd, HV_KEY("scale_b"), nb::int_(1));
  }
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  nb::object amp = key(pd, HV_KEY("amp"));
  if (s == Shape::hcosine_asys)
    p.left_scale = hp::to_double(key_or(pd, HV_KEY("left_scale"), nb::int_(1)));
  if (s == Shape::sine) {
    p.scale_a = hp::to_double(a);
    p.scale_b = hp::to_double(b);
  }
  p.amp = hp::to_complex(amp);
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  if (s == Shape::hcosine_asys)
    p.right_scale = hp::to_double(key_or(pd, HV_KEY("right_scale"), nb::int_(1)));
}

// sine2pi past its width test: pos, plateau, amp.
void read_sine2pi(nb::handle pd, double width, ShapeParams &p) {
  p.width = width;
  nb::object pos = key(pd, HV_KEY("pos"));
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.pos = hp::to_double(pos);
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
}

// tanh: pos, width, amp, epsilon; hyper: pos, width, amp, plateau (read,
// never used), epsilon.
void read_hyperbolic(Shape s, nb::handle pd, ShapeParams &p) {
  nb::object pos = key(pd, HV_KEY("pos"));
  nb::object width = key(pd, HV_KEY("width"));
  nb::object amp = key(pd, HV_KEY("amp"));
  if (s == Shape::hyper) key(pd, HV_KEY("plateau"));
  nb::object eps = key(pd, HV_KEY("epsilon"));
  p.pos = hp::to_double(pos);
  if (s == Shape::tanh) p.width = hp::to_double(width);
  p.epsilon = hp::to_complex(eps);
  if (s == Shape::hyper) p.width = hp::to_double(width);
  p.amp = hp::to_complex(amp);
}

// gauss past its width test: pos, plateau, amp, sigma (default width / 4).
void read_gauss(nb::handle pd, double width, ShapeParams &p) {
  p.width = width;
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
  p.sigma = hp::to_double(key_or(pd, HV_KEY("sigma"), nb::float_(width / 4)));
  // The formula's -(h * h) / c on floats, c = 2 * sigma * sigma.
  if (2 * p.sigma * p.sigma == 0)
    hp::raise(PyExc_ZeroDivisionError, "float division by zero: 'gauss' divides by 2 * sigma**2, which is 0");
}

// netzero: width and plateau (halved for each half), then pos and amp, as
// cosine reads its first half.
void read_netzero(nb::handle pd, ShapeParams &p) {
  p.width = hp::to_double(key(pd, HV_KEY("width")));
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
}

// ---- running kernels ----------------------------------------------------

nb::object render(Shape s, const ShapeParams &p, const hp::Reals &xs) {
  if (s == Shape::hyper && xs.size == 0)
    hp::raise(PyExc_ValueError, "zero-size array to reduction operation maximum which has no identity");
  std::complex<double> *out;
  bool cold = false;
  nb::object y = hp::new_complex(xs.size, out, &cold);
  hp::run_kernel(xs.size, [&] { hk::envelope(s, p, xs.data, xs.size, out, cold); });
  return y;
}

// ---- the formulas through the interpreter ---------------------------------

nb::object ge(nb::handle a, nb::handle b) { return hp::steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_GE)); }
nb::object lt(nb::handle a, nb::handle b) { return hp::steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_LT)); }
nb::object le(nb::handle a, nb::handle b) { return hp::steal_or_throw(PyObject_RichCompare(a.ptr(), b.ptr(), Py_LE)); }
nb::object np_sin(nb::handle x) { return hp::numpy().attr("sin")(x); }
nb::object complex_zeros(nb::handle X) {
  Py_ssize_t n = PyObject_Length(X.ptr());
  if (n < 0) hp::rethrow();
  return hp::zeros(n, hp::Dtype::complex128);
}
nb::object iadd(nb::object a, nb::handle b) { return hp::steal_or_throw(PyNumber_InPlaceAdd(a.ptr(), b.ptr())); }
nb::object edge_width(nb::handle w_) {
  nb::object floor = nb::float_(1e-10);
  int r = PyObject_RichCompareBool(w_.ptr(), floor.ptr(), Py_GT);
  if (r < 0) hp::rethrow();
  return r ? nb::borrow(w_) : floor;
}

nb::object sine_edge_py(nb::handle X, nb::handle x0, nb::handle w_, nb::handle a_, nb::handle b_) {
  nb::object w = edge_width(w_);
  auto [a, b] = hp::unpack<2>(names.current(MN)(a_, b_));
  nb::object two = nb::int_(2), half = w / two;
  nb::object l_end = np_sin(names.current(SEIGE)(-w / two, a, b, w));
  nb::object r_end = np_sin(names.current(SEIGE)(half, a, b, w));
  auto [l, r] = hp::unpack<2>(names.current(MN)(l_end, r_end));
  nb::object Y = complex_zeros(X);
  nb::object mask = ge(X, x0 - half) & lt(X, x0 + half);
  nb::object s = np_sin(names.current(SEIGE)(X - x0, a, b, w));
  Y = iadd(Y, mask * (s - l) / (r - l));
  return iadd(Y, ge(X, x0 + half));
}

nb::object sine_edge_2pi_py(nb::handle X, nb::handle x0, nb::handle w_) {
  nb::object w = edge_width(w_);
  nb::object half = w / nb::int_(2);
  nb::object Y = complex_zeros(X);
  nb::object mask = ge(X, x0 - half) & lt(X, x0 + half);
  return iadd(Y, mask * np_sin(names.current(SEIGE2PI)(X - x0, w)));
}

nb::object current_square(nb::handle X, nb::handle pd);

// amp * sine_edge(X, p, w1, a, b) * sine_edge(-X, -(p + width/2 + plateau), w2, a, b)
nb::object sine_family_py(Shape s, nb::handle X, nb::handle pd) {
  nb::object a = nb::int_(0), b = nb::int_(1);
  if (s == Shape::sine) {
    a = key_or(pd, HV_KEY("scale_a"), nb::int_(0));
    b = key_or(pd, HV_KEY("scale_b"), nb::int_(1));
  } else if (s != Shape::cosine) {
    a = nb::float_(0.5);
  }
  // One read per statement: the operands of an overloaded operator are
  // evaluated in no set order, and a description that is not a dict sees
  // the order of its reads.
  nb::object two = nb::int_(2);
  nb::object p = key(pd, HV_KEY("pos"));
  p = p + key(pd, HV_KEY("width")) / nb::int_(4);
  nb::object amp = key(pd, HV_KEY("amp"));
  nb::object w1 = key(pd, HV_KEY("width")) / two;
  if (s == Shape::hcosine_asys) w1 = w1 * key_or(pd, HV_KEY("left_scale"), nb::int_(1));
  nb::object rise = amp * names.current(SINE_EDGE)(X, p, w1, a, b);
  nb::object x0 = p + key(pd, HV_KEY("width")) / two;
  x0 = -(x0 + key(pd, HV_KEY("plateau")));
  nb::object w2 = key(pd, HV_KEY("width")) / two;
  if (s == Shape::hcosine_asys) w2 = w2 * key_or(pd, HV_KEY("right_scale"), nb::int_(1));
  return rise * names.current(SINE_EDGE)(-nb::borrow(X), x0, w2, a, b);
}

// amp * sine_edge_2pi(X, pos + (width + plateau)/2, width + plateau)
nb::object sine2pi_py(nb::handle X, nb::handle pd) {
  // One read per statement, as in sine_family_py.
  nb::object p = key(pd, HV_KEY("pos"));
  nb::object width = key(pd, HV_KEY("width"));
  p = p + (width + key(pd, HV_KEY("plateau"))) / nb::int_(2);
  nb::object amp = key(pd, HV_KEY("amp"));
  nb::object w = key(pd, HV_KEY("width"));
  w = w + key(pd, HV_KEY("plateau"));
  return amp * names.current(SINE_EDGE_2PI)(X, p, w);
}

// ---- the module functions -------------------------------------------------

nb::object current_square(nb::handle X, nb::handle pd) {
  nb::object f = names.current(SQUARE);
  hp::Reals xs = hp::sample_times(X);
  if (!names.is_original(SQUARE, f)) return f(xs.array, pd);
  ShapeParams p;
  read_square(pd, p);
  return render(Shape::square, p, xs);
}

nb::object square(nb::handle X, nb::handle pd, nb::handle) {
  ShapeParams p;
  read_square(pd, p);
  return render(Shape::square, p, hp::sample_times(X));
}

nb::object sine_family(Shape s, nb::handle X, nb::handle pd) {
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (narrow(width)) return current_square(X, pd);
  if (!sine_edge_native()) return sine_family_py(s, hp::sample_times(X).array, pd);
  ShapeParams p;
  read_sine_family(s, pd, width, p);
  return render(s, p, hp::sample_times(X));
}

nb::object sine2pi(nb::handle X, nb::handle pd, nb::handle) {
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (narrow(width)) return current_square(X, pd);
  if (!sine_edge_2pi_native()) return sine2pi_py(hp::sample_times(X).array, pd);
  ShapeParams p;
  read_sine2pi(pd, width, p);
  return render(Shape::sine2pi, p, hp::sample_times(X));
}

// numpy's tanh, cosh and max are the module global `np`'s at call time.
bool hyperbolic_native(Shape s) {
  return s == Shape::tanh ? names.original(NP_TANH) : names.original(NP_COSH) && names.original(NP_MAX);
}

// tanh: amp * np.tanh(2 * epsilon * u / tau) over each half, u = X - pos, tau = width / 2.
nb::object tanh_py(nb::handle X, nb::handle pd) {
  nb::object p = key(pd, HV_KEY("pos")), w = key(pd, HV_KEY("width"));
  nb::object amp = key(pd, HV_KEY("amp")), epsilon = key(pd, HV_KEY("epsilon"));
  nb::object two = nb::int_(2), tol = nb::float_(1e-10), j0 = hp::steal_or_throw(PyComplex_FromDoubles(0, 0));
  nb::object u = X - p;
  nb::object tau = w / two;
  nb::object rise = amp * names.current(NP_TANH)(two * epsilon * u / tau);
  rise = rise * ((ge(u, tol) & lt(u - w / two, tol)) + j0);
  nb::object fall = amp * names.current(NP_TANH)(two * epsilon * (two * tau - u) / tau);
  fall = fall * ((ge(u - w / two, tol) & le(u - w, tol)) + j0);
  return rise + fall;
}

// hyper: np.cosh(epsilon / 2) - np.cosh(epsilon * (u / w - 0.5)) over both
// halves, divided by np.max of itself, times amp.
nb::object hyper_py(nb::handle X, nb::handle pd) {
  nb::object p = key(pd, HV_KEY("pos")), w = key(pd, HV_KEY("width")), amp = key(pd, HV_KEY("amp"));
  key(pd, HV_KEY("plateau"));
  nb::object epsilon = key(pd, HV_KEY("epsilon"));
  nb::object two = nb::int_(2), tol = nb::float_(1e-20), j0 = hp::steal_or_throw(PyComplex_FromDoubles(0, 0));
  nb::object u = X - p;
  nb::object top = names.current(NP_COSH)(epsilon / two);
  nb::object h = top - names.current(NP_COSH)(epsilon * (u / w - nb::float_(0.5)));
  nb::object rising = ge(u, tol) & lt(u - w / two, tol);
  nb::object falling = ge(u - w / two, tol) & le(u - w, tol);
  nb::object y = h * (rising + j0) + h * (falling + j0);
  // Outside both halves a sample is 0, also where cosh overflowed, as the
  // kernel makes it (-inf * 0 would make every sample NaN after the division).
  nb::object outside = ~rising & ~falling & ~hp::numpy().attr("isnan")(h);
  if (PyObject_SetItem(y.ptr(), outside.ptr(), nb::int_(0).ptr()) < 0) hp::rethrow();
  y = hp::steal_or_throw(PyNumber_InPlaceTrueDivide(y.ptr(), names.current(NP_MAX)(y).ptr()));
  return amp * y;
}

nb::object hyperbolic(Shape s, nb::handle X, nb::handle pd) {
  if (!hyperbolic_native(s)) {
    nb::object xs = hp::sample_times(X).array;
    return s == Shape::tanh ? tanh_py(xs, pd) : hyper_py(xs, pd);
  }
  ShapeParams p;
  read_hyperbolic(s, pd, p);
  return render(s, p, hp::sample_times(X));
}

nb::object gaussian(nb::handle X, nb::handle pd, nb::handle) {
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (narrow(width)) return current_square(X, pd);
  ShapeParams p;
  read_gauss(pd, width, p);
  return render(Shape::gauss, p, hp::sample_times(X));
}

// netzero calls the module's cosine on each half, so it runs its kernel
// when cosine would.
bool netzero_native() { return names.original(SQUARE) && sine_edge_native(); }

// cosine(X, half) - cosine(X, dict(half, pos=pos + (w + pl))), with half =
// dict(pd, width=w, plateau=pl), w = width / 2 and pl = plateau / 2.
nb::object netzero_py(nb::handle X, nb::handle pd) {
  nb::object two = nb::int_(2);
  nb::object w = key(pd, HV_KEY("width")) / two;
  nb::object pl = key(pd, HV_KEY("plateau")) / two;
  nb::dict half;
  hp::update(half, pd);
  half["width"] = w;
  half["plateau"] = pl;
  nb::object first = sine_family(Shape::cosine, X, half);
  half["pos"] = key(pd, HV_KEY("pos")) + (w + pl);
  return first - sine_family(Shape::cosine, X, half);
}

nb::object netzero(nb::handle X, nb::handle pd, nb::handle) {
  if (!netzero_native()) return netzero_py(X, pd);
  ShapeParams p;
  read_netzero(pd, p);
  return render(Shape::netzero, p, hp::sample_times(X));
}

nb::object sine_edge(nb::handle X, nb::handle x0, nb::handle w_, nb::handle a_, nb::handle b_) {
  if (!names.original(SEIGE) || !names.original(MN))
    return sine_edge_py(hp::sample_times(X).array, x0, w_, a_, b_);
  const double w = hp::to_double(w_), a = hp::to_double(a_), b = hp::to_double(b_);
  hp::Reals xs = hp::sample_times(X);
  const double c = hp::to_double(x0);
  std::complex<double> *out;
  bool cold = false;
  nb::object y = hp::new_complex(xs.size, out, &cold);
  hp::run_kernel(xs.size, [&] { hk::sine_edge(xs.data, xs.size, c, w, a, b, out, cold); });
  return y;
}

nb::object sine_edge_2pi(nb::handle X, nb::handle x0, nb::handle w_) {
  if (!names.original(SEIGE2PI)) return sine_edge_2pi_py(hp::sample_times(X).array, x0, w_);
  const double w = hp::to_double(w_);
  hp::Reals xs = hp::sample_times(X);
  const double c = hp::to_double(x0);
  std::complex<double> *out;
  bool cold = false;
  nb::object y = hp::new_complex(xs.size, out, &cold);
  hp::run_kernel(xs.size, [&] { hk::sine_edge_2pi(xs.data, xs.size, c, w, out, cold); });
  return y;
}

bool is_real_scalar(nb::handle x) { return hp::num_kind(x) == hp::NumKind::real; }

nb::object seige(nb::handle x, nb::handle a, nb::handle b, nb::handle w) {
  const double av = hp::to_double(a), bv = hp::to_double(b);
  if (is_real_scalar(x)) {
    const double xv = hp::to_double(x);
    double r;
    hk::seige(&xv, 1, av, bv, hp::to_double(w), &r);
    return nb::float_(r);
  }
  hp::Reals xs = hp::reals(x);
  const double wv = hp::to_double(w);
  double *out;
  nb::object y = hp::new_reals_like(xs, out);
  hk::seige(xs.data, xs.size, av, bv, wv, out);
  return y;
}

nb::object seige2pi(nb::handle x, nb::handle w) {
  if (is_real_scalar(x)) {
    const double xv = hp::to_double(x);
    double r;
    hk::seige2pi(&xv, 1, hp::to_double(w), &r);
    return nb::float_(r);
  }
  hp::Reals xs = hp::reals(x);
  const double wv = hp::to_double(w);
  double *out;
  nb::object y = hp::new_reals_like(xs, out);
  hk::seige2pi(xs.data, xs.size, wv, out);
  return y;
}

nb::object square_edge(nb::handle X, nb::handle x0) {
  if (is_real_scalar(X)) return nb::bool_(hp::to_double(X) >= hp::to_double(x0));
  hp::Reals xs = hp::reals(X);
  const double c = hp::to_double(x0);
  bool *out;
  nb::object y = hp::new_bools_like(xs, out);
  hk::square_edge(xs.data, xs.size, c, out);
  return y;
}

// ---- registration -------------------------------------------------------

constexpr const char *kShapeParams =
    "Parameters\n----------\n"
    "X : numpy.ndarray\n    Sample times (s), one-dimensional.\n"
    "pd : dict\n    Pulse description.\n"
    "cp : dict\n    Accepted and ignored, so that every shape takes ``(X, pd, cp)``.\n\n"
    "Returns\n-------\nnumpy.ndarray\n    A new complex128 array of ``len(X)`` samples, ``amp`` included.";

template <typename F>
void def_shape(nb::module_ &m, Shape s, const char *name, F f, const std::string &doc) {
  // nanobind copies the signature and the docstring.
  const std::string sig = "def " + std::string(name) +
                          "(X: numpy.ndarray, pd: typing.Mapping[str, typing.Any], cp: dict = {}) "
                          "-> numpy.ndarray";
  const std::string text = doc + "\n\n" + kShapeParams;
  m.def(name, f, hp::arg("X"), hp::arg("pd"), hp::arg("cp") = nb::dict(), nb::sig(sig.c_str()),
        text.c_str());
  hp::offer_function(m.attr(name), static_cast<int>(s));
}

void export_edges(nb::module_ &m) {
  m.def("seige", &seige, hp::arg("x"), hp::arg("a"), hp::arg("b"), hp::arg("w"),
        nb::sig("def seige(x: typing.Any, a: float, b: float, w: float) -> typing.Any"),
        "Phase of a sine edge: ``pi * (x * (b - a) / w + (b + a - 1) / 2)``.\n\n"
        "Maps ``x = -w/2`` to ``pi * (a - 1/2)`` and ``x = w/2`` to ``pi * (b - 1/2)``.\n\n"
        "Parameters\n----------\n"
        "x : float or array_like\n    Time from the edge's centre (s).\n"
        "a, b : float\n    Ends of the phase window, in half turns from -1/2.\n"
        "w : float\n    Edge width (s).\n\n"
        "Returns\n-------\nfloat or numpy.ndarray\n    Phase (rad), of the shape of ``x``.");
  m.def("seige2pi", &seige2pi, hp::arg("x"), hp::arg("w"),
        nb::sig("def seige2pi(x: typing.Any, w: float) -> typing.Any"),
        "Phase of a full sine period: ``2.0 * pi * (x / w)``, so ``x = +-w/2``\n"
        "maps to +-pi.\n\n"
        "Parameters\n----------\n"
        "x : float or array_like\n    Time from the centre (s).\n"
        "w : float\n    Period (s).\n\n"
        "Returns\n-------\nfloat or numpy.ndarray\n    Phase (rad), of the shape of ``x``.");
  m.def("square_edge", &square_edge, hp::arg("X"), hp::arg("x0"),
        nb::sig("def square_edge(X: typing.Any, x0: float) -> typing.Any"),
        "A step.\n\n"
        "Parameters\n----------\n"
        "X : float or array_like\n    Sample times (s).\n"
        "x0 : float\n    Time of the step (s).\n\n"
        "Returns\n-------\nbool or numpy.ndarray\n    ``X >= x0``, of the shape of ``X``.");
  m.def("sine_edge", &sine_edge, hp::arg("X"), hp::arg("x0"), hp::arg("w_") = 1e-10,
        hp::arg("a_") = 0, hp::arg("b_") = 1,
        nb::sig("def sine_edge(X: numpy.ndarray, x0: float, w_: float = 1e-10, a_: float = 0, "
                "b_: float = 1) -> numpy.ndarray"),
        "A rising edge from 0 to 1, centred on ``x0``.\n\n"
        "Over the half-open window [x0 - w/2, x0 + w/2), ``w = max(w_, 1e-10)``, the\n"
        "edge is the sine of ``seige(X - x0, a, b, w)`` rescaled so that the window's\n"
        "smaller end value is 0 and its larger one 1; it is 0 before the window\n"
        "and 1 from its end on. The scale values are ordered first. Equal ones\n"
        "give NaN samples.\n\n"
        "Parameters\n----------\n"
        "X : numpy.ndarray\n    Sample times (s).\n"
        "x0 : float\n    Centre of the edge (s).\n"
        "w_ : float\n    Width of the edge (s); at least 1e-10 is used.\n"
        "a_, b_ : float\n    Phase window of the sine (see ``seige``); 0 and 1 give\n"
        "    a raised-cosine edge, 0.5 and 1 a quarter sine.\n\n"
        "Returns\n-------\nnumpy.ndarray\n    A new complex128 array of ``len(X)`` samples.");
  m.def("sine_edge_2pi", &sine_edge_2pi, hp::arg("X"), hp::arg("x0"), hp::arg("w_") = 1e-10,
        nb::sig("def sine_edge_2pi(X: numpy.ndarray, x0: float, w_: float = 1e-10) "
                "-> numpy.ndarray"),
        "One full sine period over [x0 - w/2, x0 + w/2), ``w = max(w_, 1e-10)``:\n"
        "``sin(seige2pi(X - x0, w))``, -1 a quarter window after the start, 0 at\n"
        "the centre, +1 a quarter window before the end, 0 outside.\n\n"
        "Parameters\n----------\n"
        "X : numpy.ndarray\n    Sample times (s).\n"
        "x0 : float\n    Centre of the period (s).\n"
        "w_ : float\n    Length of the period (s); at least 1e-10 is used.\n\n"
        "Returns\n-------\nnumpy.ndarray\n    A new complex128 array of ``len(X)`` samples.");
}

// ---- the shapes, one group each ------------------------------------------
//
// Each shape's docstring (<id>_doc), whether its kernel may run for the
// collaborators bound now (<id>_native), its reading of a pulse description
// for the kernel (<id>_read) and its module function (<id>_call), which
// HALVANE_SHAPES (kernels/shapes.hpp) joins to its kernel and its name.

// The shapes that fall back to square below a width of 1e-14 test the width
// first.
template <typename Read>
void read_past_width(nb::handle pd, ShapeParams &p, Read read) {
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (narrow(width)) return read_square(pd, p);
  read(width);
}

constexpr const char *square_doc =
    "Rectangle: ``amp`` on [pos, pos + width + plateau), else 0.";
bool square_native() { return true; }
void square_read(nb::handle pd, ShapeParams &p) { read_square(pd, p); }
nb::object square_call(nb::handle X, nb::handle pd, nb::handle cp) { return square(X, pd, cp); }

constexpr const char *sine_doc =
    "Sine edges around a flat top.\n\n"
    "The product of a rising ``sine_edge`` over [pos, pos + width/2) and the\n"
    "same edge mirrored in time, falling over the last width/2 of\n"
    "[pos, pos + width + plateau); ``scale_a`` (default 0) and ``scale_b``\n"
    "(default 1) choose the part of the sine that forms the edges. A width\n"
    "below 1e-14 gives ``square(X, pd)``.";
constexpr const char *cosine_doc =
    "``sine`` with raised-cosine edges (scale values 0 and 1, whatever\n"
    "``pd`` holds).";
constexpr const char *hcosine_doc =
    "``sine`` with quarter-sine edges (scale values 0.5 and 1).";
constexpr const char *hcosine_asys_doc =
    "``hcosine`` with edge windows of width/2 times ``left_scale`` and\n"
    "``right_scale`` (default 1 each) around the unchanged edge centres.";
#define HALVANE_SINE_FAMILY(id)                                                     \
  bool id##_native() { return names.original(SQUARE) && sine_edge_native(); }      \
  void id##_read(nb::handle pd, ShapeParams &p) {                                  \
    read_past_width(pd, p, [&](double w) { read_sine_family(Shape::id, pd, w, p); }); \
  }                                                                                \
  nb::object id##_call(nb::handle X, nb::handle pd, nb::handle) { return sine_family(Shape::id, X, pd); }
HALVANE_SINE_FAMILY(sine)
HALVANE_SINE_FAMILY(cosine)
HALVANE_SINE_FAMILY(hcosine)
HALVANE_SINE_FAMILY(hcosine_asys)
#undef HALVANE_SINE_FAMILY

constexpr const char *sine2pi_doc =
    "One full sine period over [pos, pos + width + plateau): its phase runs\n"
    "from -pi, so the first half is negative and the second positive. A width\n"
    "below 1e-14 gives ``square(X, pd)``.";
bool sine2pi_native() { return names.original(SQUARE) && sine_edge_2pi_native(); }
void sine2pi_read(nb::handle pd, ShapeParams &p) {
  read_past_width(pd, p, [&](double w) { read_sine2pi(pd, w, p); });
}
nb::object sine2pi_call(nb::handle X, nb::handle pd, nb::handle cp) { return sine2pi(X, pd, cp); }

constexpr const char *tanh_doc =
    "Two hyperbolic-tangent ramps.\n\n"
    "``amp * tanh(2 * epsilon * u / tau)`` rising over (pos, pos + width/2) and\n"
    "its mirror image falling to pos + width, with ``u = X - pos`` and\n"
    "``tau = width / 2``; boundaries have a tolerance of 1e-10 s. ``plateau``\n"
    "is not read.";
bool tanh_native() { return hyperbolic_native(Shape::tanh); }
void tanh_read(nb::handle pd, ShapeParams &p) { read_hyperbolic(Shape::tanh, pd, p); }
nb::object tanh_call(nb::handle X, nb::handle pd, nb::handle) { return hyperbolic(Shape::tanh, X, pd); }

constexpr const char *hyper_doc =
    "Inverted hyperbolic cosine over [pos, pos + width], peak normalised to 1.\n\n"
    "``cosh(epsilon/2) - cosh(epsilon * (u/width - 0.5))`` with ``u = X - pos``,\n"
    "divided by its largest sample on the grid, times ``amp``; ``epsilon``\n"
    "sets how flat the top is. ``plateau`` must be present but is unused.\n"
    "Epsilon 0, or no sample inside the pulse, gives NaN samples.";
bool hyper_native() { return hyperbolic_native(Shape::hyper); }
void hyper_read(nb::handle pd, ShapeParams &p) { read_hyperbolic(Shape::hyper, pd, p); }
nb::object hyper_call(nb::handle X, nb::handle pd, nb::handle) { return hyperbolic(Shape::hyper, X, pd); }

constexpr const char *gauss_doc =
    "Lifted Gaussian edges around a flat top.\n\n"
    "Over [pos, pos + width + plateau): each half of ``width`` is a Gaussian edge\n"
    "``(exp(-u**2 / (2 * sigma**2)) - e0) / (1 - e0)``, u the time to the\n"
    "plateau and ``e0 = exp(-(width/2)**2 / (2 * sigma**2))``, so the pulse\n"
    "starts and ends at exactly 0; the plateau between the edges is exactly\n"
    "``amp``. ``sigma`` (s) defaults to width/4, so each edge spans two standard\n"
    "deviations. With plateau 0 this is the lifted Gaussian, with a plateau\n"
    "the flat-top Gaussian. A width below 1e-14 gives ``square(X, pd)``; a\n"
    "sigma of 0 raises ZeroDivisionError.";
bool gauss_native() { return names.original(SQUARE); }
void gauss_read(nb::handle pd, ShapeParams &p) {
  read_past_width(pd, p, [&](double w) { read_gauss(pd, w, p); });
}
nb::object gauss_call(nb::handle X, nb::handle pd, nb::handle cp) { return gaussian(X, pd, cp); }

constexpr const char *netzero_doc =
    "Net-zero flux pulse: two ``cosine`` halves back to back, the second negated.\n\n"
    "Each half has width/2 and plateau/2; the first starts at ``pos``, the\n"
    "second where the first ends, at pos + (width + plateau)/2. The integral\n"
    "over the pulse is 0 to rounding, so slow distortions of the line do not\n"
    "build up.";
void netzero_read(nb::handle pd, ShapeParams &p) { read_netzero(pd, p); }
nb::object netzero_call(nb::handle X, nb::handle pd, nb::handle cp) { return netzero(X, pd, cp); }

void export_envelopes(nb::module_ &m) {
#define HALVANE_SHAPE_DEF(id, function, key, rank) def_shape(m, Shape::id, function, &id##_call, id##_doc);
  HALVANE_SHAPES(HALVANE_SHAPE_DEF)
#undef HALVANE_SHAPE_DEF
}

// Each rank of HALVANE_SHAPES once, from 0 on.
constexpr bool ranks_are_places() {
  std::array<bool, hk::kShapeCount> seen{};
#define HALVANE_SHAPE_RANK(id, function, key, rank) \
  if ((rank) >= seen.size() || seen[rank]) return false; \
  seen[rank] = true;
  HALVANE_SHAPES(HALVANE_SHAPE_RANK)
#undef HALVANE_SHAPE_RANK
  return true;
}
static_assert(ranks_are_places(), "HALVANE_SHAPES: give each shape its own rank, 0 to the number of shapes - 1");

}  // namespace

void export_constants(nb::module_ &m) {
  nb::module_ np = nb::module_::import_("numpy");
  m.attr("np") = np;
  m.attr("lfilter") = nb::module_::import_("scipy.signal").attr("lfilter");
  nb::object pi = np.attr("pi");
  m.attr("pi") = pi;
  m.attr("pi4") = pi / nb::int_(4);
  m.attr("sq2") = np.attr("sqrt")(nb::int_(2));
}

void export_shapes(nb::module_ &m) {
  export_edges(m);
  export_envelopes(m);
  std::array<std::pair<const char *, const char *>, hk::kShapeCount> by_rank{};
#define HALVANE_SHAPE_ENTRY(id, function, key, rank) by_rank[rank] = {key, function};
  HALVANE_SHAPES(HALVANE_SHAPE_ENTRY)
#undef HALVANE_SHAPE_ENTRY
  nb::dict table;
  for (auto [k, name] : by_rank) table[k] = m.attr(name);
  table["sine_edge"] = m.attr("sine_edge");
  m.attr("shapeTable") = table;
}

std::optional<Shape> native_shape(nb::handle fn) {
  // Only a function of this extension's kind is looked up, so that no user
  // object's __hash__ or __eq__ runs.
  if (Py_TYPE(fn.ptr()) != Py_TYPE(names.original_object(SQUARE).ptr())) return std::nullopt;
  if (const int k = hp::find_function(fn); k >= 0) {
    switch (const auto s = static_cast<Shape>(k)) {
#define HALVANE_SHAPE_NATIVE(id, function, key, rank) \
  case Shape::id:                                    \
    if (!id##_native()) return std::nullopt;         \
    return s;
      HALVANE_SHAPES(HALVANE_SHAPE_NATIVE)
#undef HALVANE_SHAPE_NATIVE
    }
  }
  return std::nullopt;
}

ShapeParams read_shape_params(Shape s, nb::handle pd) {
  ShapeParams p;
  switch (s) {
#define HALVANE_SHAPE_READ(id, function, key, rank) \
  case Shape::id:                                  \
    id##_read(pd, p);                              \
    break;
    HALVANE_SHAPES(HALVANE_SHAPE_READ)
#undef HALVANE_SHAPE_READ
  }
  return p;
}

bool is_native_sine_edge(nb::handle fn) {
  return names.is_original(SINE_EDGE, fn) && names.original(SEIGE) && names.original(MN);
}

}  // namespace halvane::wavespec_handling
