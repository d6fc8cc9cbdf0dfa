// Everything compiled for AVX-512: vmath's algorithms and the shape loops on
// eight lanes, the streaming fills and the pulse loops.
#include "kernels/lanes_avx512.hpp"
#include "kernels/vmath_simd.hpp"
#include "kernels/shape_loops.hpp"
#include "kernels/pulse_loops_simd.hpp"
#include "kernels/stream_loops.hpp"

namespace halvane::kernels {
const vmath::Functions vmath::detail::avx512_functions = vmath::Algorithms<Avx512>::table;
const detail::ShapeLoops detail::avx512_loops = Loops<Avx512, vmath::Algorithms<Avx512>>::table;
const detail::StreamLoops detail::avx512_streams = Streams<Avx512>::table;
const detail::PulseLoops detail::avx512_pulse_loops = PulseLoopsImpl<Avx512>::table;
}  // namespace halvane::kernels
