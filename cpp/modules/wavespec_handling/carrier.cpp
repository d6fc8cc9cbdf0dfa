// halvane.wavespec_handling: carrier, and a probe of the vectorised
// transcendentals for tests.
#include "kernels/carrier.hpp"

#include <cstring>

#include "kernels/vmath.hpp"
#include "modules/wavespec_handling/exports.hpp"
#include "py/args.hpp"
#include "py/numbers.hpp"
#include "py/samples.hpp"

namespace halvane::wavespec_handling {
namespace {

namespace hp = halvane::py;
namespace hk = halvane::kernels;
namespace vm = halvane::kernels::vmath;

PyObject *carrier_function;

nb::object carrier(nb::handle X, nb::handle freq, nb::handle ph, nb::handle imb) {
  // The formula uses imb (A, B), then ph (p2), then freq and X.
  const double i = hp::to_double(imb), p = hp::to_double(ph), f = hp::to_double(freq);
  hp::Reals xs = hp::sample_times(X);
  std::complex<double> *out;
  nb::object y = hp::new_complex(xs.size, out);
  if (xs.size >= 4096) {
    // The kernel touches only these two buffers, which X and y keep alive.
    nb::gil_scoped_release nogil;
    hk::carrier(xs.data, xs.size, f, p, i, out);
  } else {
    hk::carrier(xs.data, xs.size, f, p, i, out);
  }
  return y;
}

// One vmath function on one code path, for the tests that hold each path
// against libm; "auto" is the path the kernels use.
nb::object vmath_probe(const char *fn, nb::handle x, const char *isa) {
  vm::Isa which = vm::active_isa();
  if (std::strcmp(isa, "scalar") == 0) which = vm::Isa::scalar;
  else if (std::strcmp(isa, "avx2") == 0) which = vm::Isa::avx2;
  else if (std::strcmp(isa, "avx512") == 0) which = vm::Isa::avx512;
  else if (std::strcmp(isa, "auto") != 0) hp::raise(PyExc_ValueError, "unknown instruction set");
  if (!vm::supported(which)) hp::raise(PyExc_ValueError, "instruction set not supported here");
  const vm::Functions &f = vm::functions(which);
  hp::Reals xs = hp::sample_times(x);
  if (std::strcmp(fn, "cis") == 0) {
    std::complex<double> *out;
    nb::object y = hp::new_complex(xs.size, out);
    f.cis(xs.data, xs.size, out);
    return y;
  }
  void (*real)(const double *, std::size_t, double *) =
      std::strcmp(fn, "sin") == 0    ? f.sin
      : std::strcmp(fn, "cos") == 0  ? f.cos
      : std::strcmp(fn, "exp") == 0  ? f.exp
      : std::strcmp(fn, "cosh") == 0 ? f.cosh
      : std::strcmp(fn, "tanh") == 0 ? f.tanh
                                     : nullptr;
  if (!real) hp::raise(PyExc_ValueError, "unknown function");
  double *out;
  nb::object y = hp::new_reals_like(xs, out);
  real(xs.data, xs.size, out);
  return y;
}

}  // namespace

void export_carrier(nb::module_ &m) {
  m.def("carrier", &carrier, hp::arg("X"), hp::arg("freq"), hp::arg("ph") = 0,
        hp::arg("imb") = 0,
        nb::sig("def carrier(X: numpy.ndarray, freq: float, ph: float = 0, imb: float = 0) "
                "-> numpy.ndarray"),
        "The complex carrier with IQ imbalance.\n\n"
        "``A * cos(theta) - 1j * B * cos(theta + pi/2 + ph)`` with\n"
        "``theta = 2 * pi * freq * X``, ``A = cos(pi/4 + imb) * sqrt(2)`` and\n"
        "``B = sin(pi/4 + imb) * sqrt(2)``; with ``ph = imb = 0`` it is\n"
        "``exp(1j * theta)``.\n\n"
        "Parameters\n----------\n"
        "X : numpy.ndarray\n    Sample times (s).\n"
        "freq : float\n    Carrier frequency (Hz).\n"
        "ph : float\n    Phase skew of the quadrature part (rad).\n"
        "imb : float\n    Amplitude-imbalance angle (rad): A**2 + B**2 stays 2.\n\n"
        "Returns\n-------\nnumpy.ndarray\n    A new complex128 array of ``len(X)`` samples.");
  carrier_function = m.attr("carrier").ptr();
  m.def("_vmath_probe", &vmath_probe, nb::arg("fn"), nb::arg("x"), nb::arg("isa") = "auto",
        nb::sig("def _vmath_probe(fn: str, x: numpy.ndarray, isa: str = 'auto') -> numpy.ndarray"),
        "Testing aid: the vectorised ``fn`` (sin, cos, cis, exp, cosh or tanh)\n"
        "of ``x`` on the instruction set ``isa`` (scalar, avx2, avx512 or auto).");
}

bool is_native_carrier(nb::handle fn) { return fn.ptr() == carrier_function; }

}  // namespace halvane::wavespec_handling
