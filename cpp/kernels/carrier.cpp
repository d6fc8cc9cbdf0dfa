// The complex carrier with IQ imbalance.
#include "kernels/carrier.hpp"

#include <math.h>

#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels {

void carrier(const double *X, std::size_t n, double freq, double ph, double imb,
             std::complex<double> *out) {
  using detail::kBlock;
  constexpr double pi = detail::kPi, pi4 = pi / 4, sq2 = 1.4142135623730951;
  const double A = ::cos(pi4 + imb) * sq2;
  const double B = ::sin(pi4 + imb) * sq2;
  const double p2 = pi / 2 + ph;
  const double omega = 2 * pi * freq;
  double c1[kBlock], c2[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t m = n - i0 < kBlock ? n - i0 : kBlock;
    for (std::size_t i = 0; i < m; ++i) {
      c1[i] = omega * X[i0 + i];
      c2[i] = c1[i] + p2;
    }
    vmath::cos(c1, m, c1);
    vmath::cos(c2, m, c2);
    // A * c1 - (1j * B) * c2, with 1j * B = (0, B) and c1, c2 made complex.
    for (std::size_t i = 0; i < m; ++i)
      out[i0 + i] = {A * c1[i] - (0.0 * c2[i] - B * 0.0), 0.0 - B * c2[i]};
  }
}

}  // namespace halvane::kernels
