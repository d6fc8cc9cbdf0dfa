// Complex products and quotients as numpy's loops compute them.
//
// numpy multiplies and divides complex128 values by the plain textbook
// formulas (a real operand is first made complex with a zero imaginary
// part), without C99's recovery of infinities. Using the same formulas keeps
// NaN and infinity where the numpy expression puts them: amp * (mask + 0j),
// for example, is NaN outside the mask when amp is infinite.
#pragma once
#include <cmath>
#include <complex>

namespace halvane::kernels {

using cdouble = std::complex<double>;

inline cdouble cmul(cdouble a, cdouble b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

/// numpy's complex division (Smith's method, with numpy's zero-divisor case).
inline cdouble cdiv(cdouble a, cdouble b) {
  const double ar = a.real(), ai = a.imag(), br = b.real(), bi = b.imag();
  const double abr = std::fabs(br), abi = std::fabs(bi);
  if (abr >= abi) {
    if (abr == 0 && abi == 0) return {ar / abr, ai / abr};
    const double rat = bi / br;
    const double scl = 1.0 / (br + bi * rat);
    return {(ar + ai * rat) * scl, (ai - ar * rat) * scl};
  }
  const double rat = br / bi;
  const double scl = 1.0 / (bi + br * rat);
  return {(ar * rat + ai) * scl, (ai * rat - ar) * scl};
}

}  // namespace halvane::kernels
