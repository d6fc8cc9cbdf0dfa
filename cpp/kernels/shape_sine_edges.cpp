// Phase maps, edges, and the envelopes built from them: square, the sine
// family (sine, cosine, hcosine, hcosine_asys) and sine2pi. The per-sample
// loops are in shape_loops.hpp.
#include <math.h>

#include "kernels/grid.hpp"
#include "kernels/shapes_internal.hpp"

namespace halvane::kernels {
namespace detail {
namespace {

double seige1(double x, double a, double b, double w) {
  return kPi * (x * (b - a) / w + (b + a - 1) / 2);
}

}  // namespace

SineEdgeConsts sine_edge_consts(double x0, double w_, double a_, double b_) {
  SineEdgeConsts e;
  e.x0 = x0;
  e.w = w_ > 1e-10 ? w_ : 1e-10;
  const auto [a, b] = mn(a_, b_);
  e.bma = b - a;
  e.mid = (b + a - 1) / 2;
  const auto [l, r] = mn(::sin(seige1(-e.w / 2, a, b, e.w)), ::sin(seige1(e.w / 2, a, b, e.w)));
  e.l = l;
  e.rl = r - l;
  e.lo = x0 - e.w / 2;
  e.hi = x0 + e.w / 2;
  e.outside = 0.0 / e.rl;
  e.inv_w = 1.0 / e.w;
  e.inv_rl = 1.0 / e.rl;
  return e;
}

FullPeriodConsts full_period_consts(double x0, double w_) {
  const double w = w_ > 1e-10 ? w_ : 1e-10;
  return {x0, w, x0 - w / 2, x0 + w / 2, 1.0 / w};
}

void square_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  loops().square(p.amp, p.pos, p.pos + (p.width + p.plateau), X, n, out, cold);
}

void sine_family_envelope(const ShapeParams &p, double a, double b, double w1, double w2,
                          const double *X, std::size_t n, cdouble *out, bool cold) {
  const double x0 = p.pos + p.width / 4;
  loops().sine_family(p.amp, sine_edge_consts(x0, w1, a, b),
                      sine_edge_consts(-(x0 + p.width / 2 + p.plateau), w2, a, b), X, n, out,
                      cold);
}

// The sine family and sine2pi fall back to the rectangle for a width below
// 1e-14.
void sine_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  sine_family_envelope(p, p.scale_a, p.scale_b, p.width / 2, p.width / 2, X, n, out, cold);
}

void cosine_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  sine_family_envelope(p, 0, 1, p.width / 2, p.width / 2, X, n, out, cold);
}

void hcosine_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  sine_family_envelope(p, 0.5, 1, p.width / 2, p.width / 2, X, n, out, cold);
}

void hcosine_asys_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out,
                           bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  const double half = p.width / 2;
  sine_family_envelope(p, 0.5, 1, half * p.left_scale, half * p.right_scale, X, n, out, cold);
}

void sine2pi_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  const double w = p.width + p.plateau;
  loops().sine2pi(p.amp, full_period_consts(p.pos + w / 2, w), X, n, out, cold);
}

}  // namespace detail

void seige(const double *x, std::size_t n, double a, double b, double w, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = detail::seige1(x[k], a, b, w);
}

void seige2pi(const double *x, std::size_t n, double w, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = 2.0 * detail::kPi * (x[k] / w);
}

void square_edge(const double *X, std::size_t n, double x0, bool *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = X[k] >= x0;
}

void sine_edge(const double *X, std::size_t n, double x0, double w_, double a_, double b_,
               cdouble *out, bool cold) {
  detail::loops().sine_edge(detail::sine_edge_consts(x0, w_, a_, b_), X, n, out, cold);
}

void sine_edge_2pi(const double *X, std::size_t n, double x0, double w_, cdouble *out, bool cold) {
  detail::loops().sine_edge_2pi(detail::full_period_consts(x0, w_), X, n, out, cold);
}

}  // namespace halvane::kernels
