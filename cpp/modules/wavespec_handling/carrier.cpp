// halvane.wavespec_handling: carrier, and two testing aids for the
// vectorised paths.
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

nb::object carrier(nb::handle X, nb::handle freq, nb::handle ph, nb::handle imb) {
  // The formula uses imb (A, B), then ph (p2), then freq and X.
  const double i = hp::to_double(imb), p = hp::to_double(ph), f = hp::to_double(freq);
  hp::Reals xs = hp::sample_times(X);
  std::complex<double> *out;
  bool cold = false;
  nb::object y = hp::new_complex(xs.size, out, &cold);
  hp::run_kernel(xs.size, [&] { hk::carrier(xs.data, xs.size, f, p, i, out, cold); });
  return y;
}

constexpr const char *kIsaNames[] = {"scalar", "avx2", "avx512"};

// Testing aids: which vectorised path runs, and vmath's functions on it.
nb::str use_isa(const char *name) {
  const char *previous = kIsaNames[static_cast<int>(vm::active_isa())];
  int k = 0;
  while (k < 3 && std::strcmp(name, kIsaNames[k]) != 0) ++k;
  if (k == 3) hp::raise(PyExc_ValueError, "unknown instruction set");
  if (!vm::supported(static_cast<vm::Isa>(k))) hp::raise(PyExc_ValueError, "instruction set not supported here");
  vm::use_isa(static_cast<vm::Isa>(k));
  return nb::str(previous);
}

nb::object vmath_probe(const char *fn, nb::handle x) {
  hp::Reals xs = hp::sample_times(x);
  if (std::strcmp(fn, "cis") == 0) {
    std::complex<double> *out;
    nb::object y = hp::new_complex(xs.size, out);
    vm::cis(xs.data, xs.size, out);
    return y;
  }
  void (*real)(const double *, std::size_t, double *) =
      std::strcmp(fn, "sin") == 0    ? vm::sin
      : std::strcmp(fn, "cos") == 0  ? vm::cos
      : std::strcmp(fn, "exp") == 0  ? vm::exp
      : std::strcmp(fn, "cosh") == 0 ? vm::cosh
      : std::strcmp(fn, "tanh") == 0 ? vm::tanh
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
  m.def("_use_isa", &use_isa, nb::arg("isa"), nb::sig("def _use_isa(isa: str) -> str"),
        "Testing aid: run the vectorised paths on ``isa`` (scalar, avx2 or avx512)\n"
        "from now on, in the whole process; returns the previous choice.");
  m.def("_vmath_probe", &vmath_probe, nb::arg("fn"), nb::arg("x"),
        nb::sig("def _vmath_probe(fn: str, x: numpy.ndarray) -> numpy.ndarray"),
        "Testing aid: the vectorised ``fn`` (sin, cos, cis, exp, cosh or tanh) of ``x``.");
}

}  // namespace halvane::wavespec_handling
