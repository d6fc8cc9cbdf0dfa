// The complex carrier with IQ imbalance; the loop is in shape_loops.hpp.
#include "kernels/carrier.hpp"

#include <math.h>

#include "kernels/shapes_internal.hpp"

namespace halvane::kernels {

void carrier(const double *X, std::size_t n, double freq, double ph, double imb,
             std::complex<double> *out, bool cold) {
  constexpr double pi = detail::kPi, pi4 = pi / 4, sq2 = 1.4142135623730951;
  const double A = ::cos(pi4 + imb) * sq2;
  const double B = ::sin(pi4 + imb) * sq2;
  detail::loops().carrier(2 * pi * freq, pi / 2 + ph, A, B, X, n, out, cold);
}

}  // namespace halvane::kernels
