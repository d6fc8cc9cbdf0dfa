// envelope(): the shape table's kernels by shape id, and the choice of the
// loops for this CPU.
#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels {

const detail::ShapeLoops &detail::loops() {
  return HALVANE_ACTIVE_TABLE(avx512_loops, avx2_loops, baseline_loops);
}

void envelope(Shape s, const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  switch (s) {
#define HALVANE_SHAPE_CASE(id, function, key, rank) \
  case Shape::id:                                  \
    return detail::id##_envelope(p, X, n, out, cold);
    HALVANE_SHAPES(HALVANE_SHAPE_CASE)
#undef HALVANE_SHAPE_CASE
  }
}

}  // namespace halvane::kernels
