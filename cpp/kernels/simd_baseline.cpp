// The shape loops for CPUs without AVX2: one lane, libm transcendentals.
#include "kernels/lanes_scalar.hpp"
#include "kernels/shape_loops.hpp"
#include "kernels/stream_loops.hpp"

namespace halvane::kernels {
const detail::ShapeLoops detail::baseline_loops = Loops<Scalar, LibmMath>::table;
const detail::StreamLoops detail::baseline_streams = Streams<Scalar>::table;
}  // namespace halvane::kernels
