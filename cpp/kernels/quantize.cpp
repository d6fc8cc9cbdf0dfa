// Samples to DAC codes in one pass over blocks. A block is turned into codes
// without a branch (two values at a time with SSE2 on x86-64, which every
// such CPU has); only a block that holds a clipped or non-finite value is
// read once more, to share the counts out per channel and note where the
// first ones are.
#include "kernels/quantize.hpp"
#include <algorithm>
#include <cfloat>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace halvane::kernels {

namespace {

constexpr std::size_t block = 4096;
// Adding and subtracting 1.5 * 2^52 rounds a double of magnitude below 2^51
// to the nearest integer, ties to even, as numpy.rint does.
constexpr double round_magic = 6755399441055744.0;

struct Scaled {
  double offset, scale, top, full_scale;
};

/// The signed code of one value; sets `odd` when it is clipped or not finite.
inline std::int32_t code_of(double x, const Scaled &k, bool &odd) {
  const double s = x + k.offset;
  odd |= !(std::fabs(s) <= k.full_scale);
  if (!(std::fabs(x) <= DBL_MAX)) return 0;
  double v = s * k.scale;
  v = v > k.top ? k.top : v;
  v = v < -k.top ? -k.top : v;
  return static_cast<std::int32_t>((v + round_magic) - round_magic);
}

/// Codes of x[0, n) into out; true when some value is clipped or not finite.
template <typename Code>
bool codes(const double *x, std::size_t n, const Scaled &k, std::uint32_t zero, Code *out) {
  // Offset binary adds 2^(bits-1); modulo 2^32 that is exact for every width.
  auto store = [&](std::size_t i, std::int32_t c) { out[i] = static_cast<Code>(static_cast<std::uint32_t>(c) + zero); };
  bool odd = false;
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128d off = _mm_set1_pd(k.offset), scale = _mm_set1_pd(k.scale), top = _mm_set1_pd(k.top),
                bottom = _mm_set1_pd(-k.top), fs = _mm_set1_pd(k.full_scale), magic = _mm_set1_pd(round_magic),
                abs_mask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff)), zero_pd = _mm_setzero_pd();
  __m128d flags = zero_pd;
  for (; i + 2 <= n; i += 2) {
    const __m128d xv = _mm_loadu_pd(x + i);
    const __m128d s = _mm_add_pd(xv, off);
    flags = _mm_or_pd(flags, _mm_cmpnle_pd(_mm_and_pd(s, abs_mask), fs));  // also NaN
    const __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(xv, xv), zero_pd);      // x - x is NaN for NaN and inf
    __m128d v = _mm_max_pd(_mm_min_pd(_mm_mul_pd(s, scale), top), bottom);
    v = _mm_sub_pd(_mm_add_pd(_mm_and_pd(v, finite), magic), magic);
    const __m128i c = _mm_cvttpd_epi32(v);
    store(i, _mm_cvtsi128_si32(c));
    store(i + 1, _mm_cvtsi128_si32(_mm_srli_si128(c, 4)));
  }
  odd = _mm_movemask_pd(flags) != 0;
#endif
  for (; i < n; ++i) store(i, code_of(x[i], k, odd));
  return odd;
}

/// Count again, per channel, the values [begin, end) of a block that holds
/// clipped or non-finite ones; `begin` is the first value of a sample.
void recount(const double *x, std::size_t begin, std::size_t end, std::size_t channels, const QuantizeMap &map,
             ChannelReport *reports) {
  for (std::size_t c = 0; c < channels; ++c) {
    ChannelReport &r = reports[c];
    for (std::size_t i = begin + c; i < end; i += channels) {
      if (!(std::fabs(x[i]) <= DBL_MAX)) {
        ++r.nonfinite;
        continue;
      }
      const double a = std::fabs(x[i] + map.offset);
      if (!(a > map.full_scale)) continue;
      ++r.clipped;
      r.peak = std::max(r.peak, a);
      if (r.nfirst < first_kept) r.first[r.nfirst++] = i / channels;
    }
  }
}

}  // namespace

template <typename Code>
void quantize(const double *x, std::size_t n, std::size_t channels, const QuantizeMap &map, Code *out,
              ChannelReport *reports) {
  const Scaled k{map.offset, map.max_code / map.full_scale, map.max_code, map.full_scale};
  const auto zero = static_cast<std::uint32_t>(map.zero);
  const std::size_t step = block / channels * channels;  // blocks of whole samples
  for (std::size_t begin = 0; begin < n; begin += step) {
    const std::size_t len = std::min(n - begin, step);
    if (codes(x + begin, len, k, zero, out + begin)) recount(x, begin, begin + len, channels, map, reports);
  }
}

template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int8_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int16_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int32_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint8_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint16_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint32_t *, ChannelReport *);

}  // namespace halvane::kernels
