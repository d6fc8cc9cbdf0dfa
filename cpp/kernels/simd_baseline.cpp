// The shape loops for CPUs without AVX2: one lane, libm transcendentals.
#include "kernels/lanes_scalar.hpp"
#include "kernels/shape_loops.hpp"

namespace halvane::kernels {
const detail::ShapeLoops detail::baseline_loops = Loops<Scalar, LibmMath>::table;
}  // namespace halvane::kernels
