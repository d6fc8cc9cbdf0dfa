// The lifted Gaussian with its flat top ("gauss") and the net-zero flux
// pulse ("netzero"): their per-call constants and their per-sample loops,
// compiled per instruction set like the other shapes' (gaussian_loops.hpp).
#pragma once
#include "kernels/shapes_internal.hpp"

namespace halvane::kernels::detail {

/// gauss for one call: u = X - pos; t = u - h before the plateau, u - (h +
/// plateau) after it, else 0; edge = (exp(-(t * t) / c) - e0) / (1 - e0) with
/// c = 2 sigma^2 and e0 = exp(-(h * h) / c) by vmath's exp, which is the
/// loops' own, so that the first sample is exactly 0; amp * (edge * mask +
/// 0j), mask = [pos, end).
struct GaussConsts {
  double pos, h, plateau, end, c, e0;
};

/// The netzero pulse: the cos shape on the first half minus the cos shape on
/// the second, each half of width w / 2 and plateau plateau / 2.
struct NetZeroConsts {
  SineEdgeConsts rise1, fall1, rise2, fall2;
};

struct GaussianLoops {
  void (*gauss)(cdouble amp, const GaussConsts &g, const double *X, std::size_t n, cdouble *out,
                bool cold);
  void (*netzero)(cdouble amp, const NetZeroConsts &z, const double *X, std::size_t n, cdouble *out,
                  bool cold);
};

extern const GaussianLoops baseline_gaussian_loops;  // simd_baseline.cpp
extern const GaussianLoops avx2_gaussian_loops;      // simd_avx2.cpp
extern const GaussianLoops avx512_gaussian_loops;    // simd_avx512.cpp

// gaussian.cpp
void gauss_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold);
void netzero_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold);

}  // namespace halvane::kernels::detail
