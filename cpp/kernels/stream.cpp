// The streaming stores of kernels/stream.hpp: the unaligned head in plain
// stores, the rest through the active instruction set's loops.
#include "kernels/stream.hpp"

#include <algorithm>
#include <cstdint>

#include "kernels/vmath.hpp"

namespace halvane::kernels {

namespace {

const detail::StreamLoops &stream_loops() {
  return vmath::for_active_isa(detail::avx512_streams, detail::avx2_streams, detail::baseline_streams);
}

/// How many elements of `size` bytes from p on precede the first address
/// aligned to `align` bytes (all of n if none does).
std::size_t head(const void *p, std::size_t size, std::size_t n, std::size_t align) {
  const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % align;
  if (off == 0) return 0;
  if ((align - off) % size != 0) return n;
  return std::min(n, (align - off) / size);
}

}  // namespace

void stream_fill(cdouble *out, std::size_t n, cdouble v) {
  const detail::StreamLoops &s = stream_loops();
  const std::size_t h = head(out, sizeof(cdouble), n, s.align);
  std::fill(out, out + h, v);
  s.fill(v, n - h, out + h);
}

void stream_grid(double start, double step, std::size_t lo, std::size_t hi, double *out) {
  const detail::StreamLoops &s = stream_loops();
  const std::size_t h = head(out, sizeof(double), hi - lo, s.align);
  for (std::size_t j = 0; j < h; ++j) out[j] = static_cast<double>(lo + j) * step + start;
  s.grid(start, step, lo + h, hi - lo - h, out + h);
}

void stream_copy(const cdouble *in, std::size_t n, cdouble *out) {
  const detail::StreamLoops &s = stream_loops();
  const std::size_t h = head(out, sizeof(cdouble), n, s.align);
  std::copy(in, in + h, out);
  s.copy(in + h, n - h, out + h);
}

}  // namespace halvane::kernels
