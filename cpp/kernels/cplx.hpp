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

/// Division by b as numpy computes it (Smith's method, with numpy's case for
/// a zero divisor); the work that depends on b alone is done once.
struct CDivisor {
  bool zero, real_major;  ///< b == 0; |b.real| >= |b.imag|
  double rat, scl;        ///< for a zero divisor, scl is |b.real| (0)

  explicit CDivisor(cdouble b) {
    const double br = b.real(), bi = b.imag();
    const double abr = std::fabs(br), abi = std::fabs(bi);
    real_major = abr >= abi;
    zero = real_major && abr == 0 && abi == 0;
    rat = real_major ? bi / br : br / bi;
    scl = zero ? abr : real_major ? 1.0 / (br + bi * rat) : 1.0 / (bi + br * rat);
  }
  cdouble operator()(cdouble a) const {
    const double ar = a.real(), ai = a.imag();
    if (zero) return {ar / scl, ai / scl};
    if (real_major) return {(ar + ai * rat) * scl, (ai - ar * rat) * scl};
    return {(ar * rat + ai) * scl, (ai * rat - ar) * scl};
  }
};

inline cdouble cdiv(cdouble a, cdouble b) { return CDivisor(b)(a); }

}  // namespace halvane::kernels
