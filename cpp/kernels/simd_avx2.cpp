// Everything compiled for AVX2 with FMA: vmath's algorithms and the shape
// loops on four lanes, the streaming fills and the pulse loops.
#include "kernels/lanes_avx2.hpp"
#include "kernels/vmath_simd.hpp"
#include "kernels/shape_loops.hpp"
#include "kernels/pulse_loops_simd.hpp"
#include "kernels/stream_loops.hpp"

namespace halvane::kernels {
const vmath::Functions vmath::detail::avx2_functions = vmath::Algorithms<Avx2>::table;
const detail::ShapeLoops detail::avx2_loops = Loops<Avx2, vmath::Algorithms<Avx2>>::table;
const detail::StreamLoops detail::avx2_streams = Streams<Avx2>::table;
const detail::PulseLoops detail::avx2_pulse_loops = PulseLoopsImpl<Avx2>::table;
}  // namespace halvane::kernels
