// The Gaussian shapes: gauss, a lifted Gaussian edge over each half of the
// width around a flat top, and netzero, two cos halves of opposite sign.
// The per-sample loops are in shape_loops.hpp.
#include <cmath>

#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels::detail {
namespace {

// The cos shape's edges for a pulse at pos of the given width and plateau.
void cos_edges(double pos, double width, double plateau, SineEdgeConsts &rise, SineEdgeConsts &fall) {
  const double x0 = pos + width / 4;
  rise = sine_edge_consts(x0, width / 2, 0, 1);
  fall = sine_edge_consts(-(x0 + width / 2 + plateau), width / 2, 0, 1);
}

}  // namespace

void gauss_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (narrow(p.width)) return square_envelope(p, X, n, out, cold);
  const double h = p.width / 2, c = 2 * p.sigma * p.sigma, arg = -(h * h) / c;
  double e0;
  vmath::exp(&arg, 1, &e0);
  const GaussConsts g{p.pos, h, p.plateau, p.pos + (p.width + p.plateau), c, e0};
  loops().gauss(p.amp, g, X, n, out, cold);
}

void netzero_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  const double w = p.width / 2, pl = p.plateau / 2;
  if (std::fabs(w) < 1e-14) {
    // Each half falls back to the rectangle, as the cos shape does.
    const double mid = p.pos + (w + pl), end = mid + (w + pl);
    for (std::size_t k = 0; k < n; ++k) {
      const double x = X[k];
      const bool first = x >= p.pos && x < mid, second = x >= mid && x < end;
      out[k] = cmul(p.amp, {first ? 1.0 : 0.0, 0.0}) - cmul(p.amp, {second ? 1.0 : 0.0, 0.0});
    }
    return;
  }
  NetZeroConsts z;
  cos_edges(p.pos, w, pl, z.rise1, z.fall1);
  cos_edges(p.pos + (w + pl), w, pl, z.rise2, z.fall2);
  loops().netzero(p.amp, z, X, n, out, cold);
}

}  // namespace halvane::kernels::detail
