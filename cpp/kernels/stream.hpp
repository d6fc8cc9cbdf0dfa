// Stores that bypass the caches, for outputs larger than the caches.
//
// An ordinary store first reads the cache line it writes into; an array of
// many megabytes is not in the cache, so each byte written costs a byte read
// from memory as well. Streaming (non-temporal) stores write whole lines
// without reading them: on this kind of machine a 24 MB array fills in about
// a third of the time with 64-byte streaming stores. They leave nothing in
// the cache, so they serve only arrays too large to stay there, and only
// samples that nothing reads back soon. A fence after a task's streamed
// fills orders their stores before any later one, so another thread that
// sees the work done sees the samples.
#pragma once
#include <algorithm>
#include <cstddef>
#include <span>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "kernels/cplx.hpp"

namespace halvane::kernels {

/// Outputs beyond this size are written with streaming stores: the data
/// caches of a core hold less, so ordinary stores would only evict.
constexpr std::size_t stream_bytes = std::size_t{4} << 20;

/// An output whose memory is cold already (a block the buffer cache kept
/// since an earlier release) is streamed beyond this size, that of a core's
/// own cache: ordinary stores would first read each of its lines back.
constexpr std::size_t cold_stream_bytes = std::size_t{1} << 20;

inline bool streams(std::size_t bytes, bool cold = false) {
  return bytes > (cold ? cold_stream_bytes : stream_bytes);
}

/// The samples [begin, end).
struct Range {
  std::size_t begin, end;
};

/// Calls f(lo, hi, streamed) on the pieces of [lo, hi) cut at `cached`
/// (sorted and disjoint): the pieces inside those ranges are not streamed.
template <class F>
void pieces(std::span<const Range> cached, std::size_t lo, std::size_t hi, F f) {
  auto it = std::partition_point(cached.begin(), cached.end(), [&](const Range &r) { return r.end <= lo; });
  for (; lo < hi && it != cached.end() && it->begin < hi; ++it) {
    if (it->begin > lo) f(lo, it->begin, true);
    const std::size_t e = std::min(it->end, hi);
    f(std::max(lo, it->begin), e, false);
    lo = e;
  }
  if (lo < hi) f(lo, hi, true);
}

/// out[0:n] = v, streamed.
void stream_fill(cdouble *out, std::size_t n, cdouble v);

/// out[k - lo] = k * step + start for k in [lo, hi), streamed; every sample
/// is the same double as the plain loop's.
void stream_grid(double start, double step, std::size_t lo, std::size_t hi, double *out);

/// out[0:n] = in[0:n], streamed.
void stream_copy(const cdouble *in, std::size_t n, cdouble *out);

/// Orders the streamed stores before all later ones; call once the streamed
/// writes of a task are done.
inline void stream_fence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

namespace detail {

/// The streaming loops of one instruction set (stream_loops.hpp), without
/// the fence; `out` is aligned to a whole vector.
struct StreamLoops {
  void (*fill)(cdouble v, std::size_t n, cdouble *out);
  /// out[j] = (k + j) * step + start for j in [0, n)
  void (*grid)(double start, double step, std::size_t k, std::size_t n, double *out);
  void (*copy)(const cdouble *in, std::size_t n, cdouble *out);
  std::size_t align;  ///< bytes
};

extern const StreamLoops baseline_streams;  // simd_baseline.cpp
extern const StreamLoops avx2_streams;      // simd_avx2.cpp
extern const StreamLoops avx512_streams;    // simd_avx512.cpp

}  // namespace detail
}  // namespace halvane::kernels
