// The shape loops for CPUs without AVX2 (one lane, libm transcendentals), the
// streaming fills and the pulse loops.
#include "kernels/lanes_scalar.hpp"
#include "kernels/shape_loops.hpp"
#include "kernels/pulse_loops_simd.hpp"
#include "kernels/stream_loops.hpp"

namespace halvane::kernels {
const detail::ShapeLoops detail::baseline_loops = Loops<Scalar, LibmMath>::table;
const detail::StreamLoops detail::baseline_streams = Streams<Scalar>::table;
const detail::PulseLoops detail::baseline_pulse_loops = PulseLoopsImpl<Scalar>::table;
}  // namespace halvane::kernels
