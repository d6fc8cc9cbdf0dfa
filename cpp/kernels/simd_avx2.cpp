// Everything compiled for AVX2 with FMA: vmath's algorithms and the shape
// loops on four lanes.
#include "kernels/lanes_avx2.hpp"
#include "kernels/vmath_simd.hpp"
#include "kernels/shape_loops.hpp"
#include "kernels/stream_loops.hpp"

namespace halvane::kernels {
const vmath::Functions vmath::detail::avx2_functions = vmath::Algorithms<Avx2>::table;
const detail::ShapeLoops detail::avx2_loops = Loops<Avx2, vmath::Algorithms<Avx2>>::table;
const detail::StreamLoops detail::avx2_streams = Streams<Avx2>::table;
}  // namespace halvane::kernels
