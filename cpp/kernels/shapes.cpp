// envelope(): the shape table's kernels by shape id, and the choice of the
// loops for this CPU.
#include <cmath>

#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels {

const detail::ShapeLoops &detail::loops() {
  return vmath::for_active_isa(avx512_loops, avx2_loops, baseline_loops);
}

void envelope(Shape s, const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  using namespace detail;
  // The sine family falls back to the rectangle for a width below 1e-14.
  const bool narrow = std::fabs(p.width) < 1e-14;
  const double half = p.width / 2;
  switch (s) {
    case Shape::square:
      return square_envelope(p, X, n, out, cold);
    case Shape::sine:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return sine_family_envelope(p, p.scale_a, p.scale_b, half, half, X, n, out, cold);
    case Shape::cosine:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return sine_family_envelope(p, 0, 1, half, half, X, n, out, cold);
    case Shape::hcosine:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return sine_family_envelope(p, 0.5, 1, half, half, X, n, out, cold);
    case Shape::hcosine_asys:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return sine_family_envelope(p, 0.5, 1, half * p.left_scale, half * p.right_scale, X, n,
                                  out, cold);
    case Shape::sine2pi:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return sine2pi_envelope(p, X, n, out, cold);
    case Shape::tanh:
      return tanh_envelope(p, X, n, out, cold);
    case Shape::hyper:  // reads its samples back: never streamed
      return hyper_envelope(p, X, n, out);
    case Shape::gauss:
      if (narrow) return square_envelope(p, X, n, out, cold);
      return gauss_envelope(p, X, n, out, cold);
    case Shape::netzero:
      return netzero_envelope(p, X, n, out, cold);
  }
}

}  // namespace halvane::kernels
