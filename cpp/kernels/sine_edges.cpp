// Phase maps, edges, and the envelopes built from them: square, the sine
// family (sine, cosine, hcosine, hcosine_asys) and sine2pi.
//
// A masked numpy product such as mask * (sin(ph) - l) / (r - l) evaluates the
// sine everywhere and multiplies by 0 outside the window; the result there is
// 0, or NaN when the unmasked value is not finite. The kernels take the sine
// only inside the window and reproduce the outside value from the phase:
// 0.0 / (r - l) for a finite phase, NaN otherwise.
#include <math.h>

#include <cmath>
#include <limits>

#include "kernels/grid.hpp"
#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels {
namespace {

using detail::kBlock;
using detail::kPi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double seige1(double x, double a, double b, double w) { return kPi * (x * (b - a) / w + (b + a - 1) / 2); }

// sine_edge's constants for one call: the window and the end values l, r.
struct SineEdge {
  double x0, w, lo, hi, bma, mid, l, rl, outside;

  SineEdge(double x0_, double w_, double a_, double b_) : x0(x0_) {
    w = w_ > 1e-10 ? w_ : 1e-10;
    const auto [a, b] = mn(a_, b_);
    bma = b - a;
    mid = (b + a - 1) / 2;
    const auto [l_, r_] = mn(::sin(seige1(-w / 2, a, b, w)), ::sin(seige1(w / 2, a, b, w)));
    l = l_;
    rl = r_ - l_;
    lo = x0 - w / 2;
    hi = x0 + w / 2;
    outside = 0.0 / rl;
  }
  double phase(double x) const { return kPi * ((x - x0) * bma / w + mid); }
  bool inside(double x) const { return x >= lo && x < hi; }
  // The edge at x from its phase and the sine of its argument.
  double value(double x, double ph, double s) const {
    const double t = inside(x) ? (s - l) / rl : std::isfinite(ph) ? outside : kNaN;
    return t + (x >= hi ? 1.0 : 0.0);
  }
};

// sine_edge_2pi's constants.
struct FullPeriod {
  double x0, w, lo, hi;
  FullPeriod(double x0_, double w_) : x0(x0_) {
    w = w_ > 1e-10 ? w_ : 1e-10;
    lo = x0 - w / 2;
    hi = x0 + w / 2;
  }
  double phase(double x) const { return 2.0 * kPi * ((x - x0) / w); }
  bool inside(double x) const { return x >= lo && x < hi; }
  // mask * sin(phase): the sine inside, 0 * sin(phase) outside.
  double value(double x, double ph, double s) const {
    return inside(x) ? s : std::isfinite(ph) ? 0.0 : kNaN;
  }
};

// First pass over a block: the phases, and the sines of those inside the
// window (outside, the sine is not needed and a huge phase would only cost
// time).
template <class Edge>
void sines(const Edge &e, const double *x, std::size_t m, double *ph, double *s) {
  for (std::size_t i = 0; i < m; ++i) {
    ph[i] = e.phase(x[i]);
    s[i] = e.inside(x[i]) ? ph[i] : 0.0;
  }
  vmath::sin(s, m, s);
}

template <class Edge>
void edge_blocks(const Edge &e, const double *X, std::size_t n, cdouble *out) {
  double ph[kBlock], s[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t m = n - i0 < kBlock ? n - i0 : kBlock;
    const double *x = X + i0;
    sines(e, x, m, ph, s);
    for (std::size_t i = 0; i < m; ++i) out[i0 + i] = {e.value(x[i], ph[i], s[i]), 0.0};
  }
}

}  // namespace

void seige(const double *x, std::size_t n, double a, double b, double w, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = seige1(x[k], a, b, w);
}

void seige2pi(const double *x, std::size_t n, double w, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = 2.0 * kPi * (x[k] / w);
}

void square_edge(const double *X, std::size_t n, double x0, bool *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = X[k] >= x0;
}

void sine_edge(const double *X, std::size_t n, double x0, double w_, double a_, double b_,
               cdouble *out) {
  edge_blocks(SineEdge(x0, w_, a_, b_), X, n, out);
}

void sine_edge_2pi(const double *X, std::size_t n, double x0, double w_, cdouble *out) {
  edge_blocks(FullPeriod(x0, w_), X, n, out);
}

namespace detail {

void square_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  const double end = p.pos + (p.width + p.plateau);
  for (std::size_t k = 0; k < n; ++k) {
    const double m = X[k] >= p.pos && X[k] < end ? 1.0 : 0.0;
    out[k] = cmul(p.amp, {m, 0.0});
  }
}

void sine_family_envelope(const ShapeParams &p, double a, double b, double w1, double w2,
                          const double *X, std::size_t n, cdouble *out) {
  const double x0 = p.pos + p.width / 4;
  const SineEdge rise(x0, w1, a, b);
  const SineEdge fall(-(x0 + p.width / 2 + p.plateau), w2, a, b);
  double x2[kBlock], ph1[kBlock], s1[kBlock], ph2[kBlock], s2[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t m = n - i0 < kBlock ? n - i0 : kBlock;
    const double *x = X + i0;
    for (std::size_t i = 0; i < m; ++i) x2[i] = -x[i];
    sines(rise, x, m, ph1, s1);
    sines(fall, x2, m, ph2, s2);
    for (std::size_t i = 0; i < m; ++i) {
      const double e1 = rise.value(x[i], ph1[i], s1[i]);
      const double e2 = fall.value(x2[i], ph2[i], s2[i]);
      out[i0 + i] = cmul(cmul(p.amp, {e1, 0.0}), {e2, 0.0});
    }
  }
}

void sine2pi_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  const double w = p.width + p.plateau;
  sine_edge_2pi(X, n, p.pos + w / 2, w, out);
  for (std::size_t k = 0; k < n; ++k) out[k] = cmul(p.amp, out[k]);
}

}  // namespace detail
}  // namespace halvane::kernels
