// The complex carrier with IQ imbalance.
#pragma once
#include <complex>
#include <cstddef>

namespace halvane::kernels {

/// out[k] = A cos(theta) - 1j B cos(theta + p2), theta = 2 pi freq X[k],
/// A = cos(pi/4 + imb) sqrt 2, B = sin(pi/4 + imb) sqrt 2, p2 = pi/2 + ph.
/// With ph = imb = 0 this is exp(1j theta) up to rounding; the second cosine
/// is taken of the rounded sum theta + p2, as numpy does, not as -sin(theta),
/// which differs far above rounding for large phases. `cold` as for
/// envelope().
void carrier(const double *X, std::size_t n, double freq, double ph, double imb,
             std::complex<double> *out, bool cold = false);

}  // namespace halvane::kernels
