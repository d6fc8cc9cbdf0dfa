// The pieces behind envelope() and the edges: per-call constants computed
// once in plain code, and the per-sample loops compiled for each instruction
// set (shape_loops.hpp), chosen at run time like vmath's.
#pragma once
#include <cmath>

#include "kernels/cplx.hpp"
#include "kernels/shapes.hpp"

namespace halvane::kernels::detail {

/// np.pi.
inline constexpr double kPi = 3.141592653589793;

/// sine_edge(X, x0, w_, a_, b_) for one call: the window [lo, hi) of width
/// w = max(w_, 1e-10), the phase map pi * ((x - x0) * bma / w + mid), the end
/// values l and l + rl, and the value outside the window, 0.0 / rl. The
/// loops multiply by the reciprocals inv_w and inv_rl (see shape_loops.hpp).
struct SineEdgeConsts {
  double x0, w, lo, hi, bma, mid, l, rl, outside, inv_w, inv_rl;
};
SineEdgeConsts sine_edge_consts(double x0, double w_, double a_, double b_);

/// sine_edge_2pi(X, x0, w_) for one call: the window and the phase map
/// 2 pi * ((x - x0) / w), with inv_w = 1 / w.
struct FullPeriodConsts {
  double x0, w, lo, hi, inv_w;
};
FullPeriodConsts full_period_consts(double x0, double w_);

/// gauss for one call: u = X - pos; t = u - h before the plateau, u - (h +
/// plateau) after it, else 0; edge = (exp(-(t * t) / c) - e0) / (1 - e0) with
/// c = 2 sigma^2 and e0 = exp(-(h * h) / c) by vmath's exp, which is the
/// loops' own, so that the first sample is exactly 0; amp * (edge * mask +
/// 0j), mask = [pos, end).
struct GaussConsts {
  double pos, h, plateau, end, c, e0;
};

/// netzero for one call: the cos shape's edges of the first half and of the
/// second, each of width/2 and plateau/2.
struct NetZeroConsts {
  SineEdgeConsts rise1, fall1, rise2, fall2;
};

/// The loops over samples; n may be 0. `cold`: out is known to be out of
/// the caches (see streams()).
struct ShapeLoops {
  void (*square)(cdouble amp, double start, double end, const double *X, std::size_t n, cdouble *out,
                 bool cold);
  /// amp * edge(rise, X) * edge(fall, -X)
  void (*sine_family)(cdouble amp, const SineEdgeConsts &rise, const SineEdgeConsts &fall,
                      const double *X, std::size_t n, cdouble *out, bool cold);
  void (*sine_edge)(const SineEdgeConsts &e, const double *X, std::size_t n, cdouble *out, bool cold);
  /// amp * sine_edge_2pi(...)
  void (*sine2pi)(cdouble amp, const FullPeriodConsts &e, const double *X, std::size_t n,
                  cdouble *out, bool cold);
  void (*sine_edge_2pi)(const FullPeriodConsts &e, const double *X, std::size_t n, cdouble *out,
                        bool cold);
  /// tanh with a real epsilon.
  void (*tanh)(const ShapeParams &p, double eps, const double *X, std::size_t n, cdouble *out,
               bool cold);
  /// hyper with a real epsilon, before the normalisation; c0 = cosh(eps / 2).
  /// Returns the largest real part, NaN when any sample has a NaN part (the
  /// imaginary parts are all 0 otherwise, so this is numpy's max).
  double (*hyper)(const ShapeParams &p, double eps, double c0, const double *X, std::size_t n,
                  cdouble *out);
  void (*gauss)(cdouble amp, const GaussConsts &g, const double *X, std::size_t n, cdouble *out,
                bool cold);
  /// amp * rise1 * fall1 - amp * rise2 * fall2, each term as sine_family.
  void (*netzero)(cdouble amp, const NetZeroConsts &z, const double *X, std::size_t n, cdouble *out,
                  bool cold);
  /// out = amp * (out / d), for the normalisation of hyper.
  void (*scale)(cdouble amp, const CDivisor &d, std::size_t n, cdouble *out);
  /// A cos(omega X) - 1j B cos(omega X + p2)
  void (*carrier)(double omega, double p2, double A, double B, const double *X, std::size_t n,
                  cdouble *out, bool cold);
};

extern const ShapeLoops baseline_loops;  // simd_baseline.cpp
extern const ShapeLoops avx2_loops;      // simd_avx2.cpp
extern const ShapeLoops avx512_loops;    // simd_avx512.cpp

/// The loops for this CPU (the same choice as vmath's).
const ShapeLoops &loops();

/// Each shape's kernel: the envelope of p on the n times X into out,
/// falling back to square where the shape does (shapes.hpp).
#define HALVANE_SHAPE_KERNEL(id, function, key, rank) \
  void id##_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold);
HALVANE_SHAPES(HALVANE_SHAPE_KERNEL)
#undef HALVANE_SHAPE_KERNEL

/// amp * sine_edge(X, x0, w1, a, b) * sine_edge(-X, -(x0 + width/2 + plateau), w2, a, b)
/// with x0 = pos + width/4 (shape_sine_edges.cpp).
void sine_family_envelope(const ShapeParams &p, double a, double b, double w1, double w2,
                          const double *X, std::size_t n, cdouble *out, bool cold);

/// The sine family's and gauss's fall-back to square below this width.
inline bool narrow(double width) { return std::fabs(width) < 1e-14; }

}  // namespace halvane::kernels::detail
