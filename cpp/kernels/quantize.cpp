// Samples to DAC codes in one branch-free pass (two values at a time with
// SSE2 on x86-64, which every such CPU has) that also counts, per lane, the
// clipped and non-finite values and the largest magnitude. The two lanes
// are the even and the odd values, which for I/Q pairs are I and Q. Only a
// block in which values clipped is read once more, and only while a channel
// still lacks the positions of its first clipped values.
#include "kernels/quantize.hpp"
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
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

/// What the values at even (lane 0) and odd (lane 1) positions did.
struct Lanes {
  std::uint64_t clipped[2] = {}, nonfinite[2] = {};
  double peak[2] = {};  ///< the largest |v + offset| of the finite values
};

/// The signed code of one value, counted in lane `l`.
inline std::int32_t code_of(double x, const Scaled &k, Lanes &t, int l) {
  if (!(std::fabs(x) <= DBL_MAX)) {
    ++t.nonfinite[l];
    return 0;
  }
  const double s = x + k.offset, a = std::fabs(s);
  t.clipped[l] += a > k.full_scale;
  t.peak[l] = std::max(t.peak[l], a);
  double v = s * k.scale;
  v = v > k.top ? k.top : v;
  v = v < -k.top ? -k.top : v;
  return static_cast<std::int32_t>((v + round_magic) - round_magic);
}

#if defined(__SSE2__)
/// The SSE2 pass: two values per vector, both lanes counted.
struct Pass {
  __m128d off, scale, top, bottom, fs, magic, abs_mask, zero;
  __m128i clipped = _mm_setzero_si128(), finite_count = _mm_setzero_si128();  // a true mask is -1
  __m128d peak = _mm_setzero_pd();

  explicit Pass(const Scaled &k)
      : off(_mm_set1_pd(k.offset)), scale(_mm_set1_pd(k.scale)), top(_mm_set1_pd(k.top)),
        bottom(_mm_set1_pd(-k.top)), fs(_mm_set1_pd(k.full_scale)), magic(_mm_set1_pd(round_magic)),
        abs_mask(_mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff))), zero(_mm_setzero_pd()) {}

  /// The signed codes of x[0] and x[1] in the low two int32 of the result.
  __m128i operator()(const double *x) {
    const __m128d xv = _mm_loadu_pd(x);
    const __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(xv, xv), zero);  // x - x is NaN for NaN and inf
    const __m128d s = _mm_add_pd(xv, off);
    const __m128d a = _mm_and_pd(_mm_and_pd(s, abs_mask), finite);
    clipped = _mm_sub_epi64(clipped, _mm_castpd_si128(_mm_cmplt_pd(fs, a)));
    finite_count = _mm_sub_epi64(finite_count, _mm_castpd_si128(finite));
    peak = _mm_max_pd(peak, a);
    const __m128d v = _mm_max_pd(_mm_min_pd(_mm_mul_pd(s, scale), top), bottom);
    return _mm_cvttpd_epi32(_mm_sub_pd(_mm_add_pd(_mm_and_pd(v, finite), magic), magic));
  }

  /// Add what the pass counted over `values` values to t.
  void count(Lanes &t, std::size_t values) const {
    alignas(16) std::uint64_t c[2], f[2];
    alignas(16) double p[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(c), clipped);
    _mm_store_si128(reinterpret_cast<__m128i *>(f), finite_count);
    _mm_store_pd(p, peak);
    for (int l = 0; l < 2; ++l) {
      t.clipped[l] += c[l];
      t.nonfinite[l] += values / 2 - f[l];
      t.peak[l] = std::max(t.peak[l], p[l]);
    }
  }
};

/// Store eight signed codes (two in the low half of each of a, b, c, d)
/// plus `zero`, modulo the width of Code, as a 16-byte store or two.
template <typename Code>
void store8(Code *out, __m128i a, __m128i b, __m128i c, __m128i d, std::uint32_t zero) {
  const __m128i ab = _mm_unpacklo_epi64(a, b), cd = _mm_unpacklo_epi64(c, d);
  if constexpr (sizeof(Code) == 4) {
    const __m128i z = _mm_set1_epi32(static_cast<int>(zero));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_add_epi32(ab, z));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), _mm_add_epi32(cd, z));
  } else {
    // The signed codes fit the width (|code| < 2^(bits-1)), so packing with
    // saturation keeps them; offset binary then adds zero modulo the width.
    const __m128i words = _mm_packs_epi32(ab, cd);
    if constexpr (sizeof(Code) == 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                       _mm_add_epi16(words, _mm_set1_epi16(static_cast<short>(zero))));
    } else {
      const __m128i bytes = _mm_packs_epi16(words, words);
      _mm_storel_epi64(reinterpret_cast<__m128i *>(out),
                       _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(zero))));
    }
  }
}
#endif

/// Codes of x[0, n) into out, counted into t; x[0] is in lane 0.
template <typename Code>
void codes(const double *x, std::size_t n, const Scaled &k, std::uint32_t zero, Code *out, Lanes &t) {
  // Offset binary adds 2^(bits-1); modulo 2^32 that is exact for every width.
  auto store = [&](std::size_t i, std::int32_t c) { out[i] = static_cast<Code>(static_cast<std::uint32_t>(c) + zero); };
  std::size_t i = 0;
#if defined(__SSE2__)
  Pass pass(k);
  for (; i + 8 <= n; i += 8) {
    // Four kilobytes ahead: the processor's own prefetcher alone left the
    // loop waiting on memory for two thirds of its time. A prefetch past
    // the end of the array is harmless, so the address is plain arithmetic.
    _mm_prefetch(reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(x + i) + 4096), _MM_HINT_T0);
    store8(out + i, pass(x + i), pass(x + i + 2), pass(x + i + 4), pass(x + i + 6), zero);
  }
  for (; i + 2 <= n; i += 2) {
    const __m128i c = pass(x + i);
    store(i, _mm_cvtsi128_si32(c));
    store(i + 1, _mm_cvtsi128_si32(_mm_srli_si128(c, 4)));
  }
  pass.count(t, i);
#endif
  for (; i < n; ++i) store(i, code_of(x[i], k, t, static_cast<int>(i & 1)));
}

/// The magnitude above which a value counts as clipped: full scale and the
/// rounding of the arithmetic that made it (a carrier's cos(pi/4) * sqrt(2)
/// is 1 + 2.2e-16), which still lands on the top code.
inline double beyond(const QuantizeMap &map) { return map.full_scale * (1 + 4 * DBL_EPSILON); }

/// Note the sample indices of the first clipped values of each channel in
/// the values [begin, end); `begin` is the first value of a sample.
void note_first(const double *x, std::size_t begin, std::size_t end, std::size_t channels, const QuantizeMap &map,
                ChannelReport *reports) {
  for (std::size_t ch = 0; ch < channels; ++ch) {
    ChannelReport &r = reports[ch];
    for (std::size_t i = begin + ch; i < end && r.nfirst < first_kept; i += channels)
      if (std::fabs(x[i]) <= DBL_MAX && std::fabs(x[i] + map.offset) > beyond(map))
        r.first[r.nfirst++] = i / channels;
  }
}

}  // namespace

template <typename Code>
void quantize(const double *x, std::size_t n, std::size_t channels, const QuantizeMap &map, Code *out,
              ChannelReport *reports) {
  const Scaled k{map.offset, map.max_code / map.full_scale, map.max_code, beyond(map)};
  const auto zero = static_cast<std::uint32_t>(map.zero);
  // Blocks of whole samples, each of an even number of values, so that the
  // lanes stay the even and the odd values throughout.
  const std::size_t step = block / channels * channels;
  Lanes t;
  auto all_noted = [&] {
    return std::all_of(reports, reports + channels, [](const ChannelReport &r) { return r.nfirst == first_kept; });
  };
  for (std::size_t begin = 0; begin < n; begin += step) {
    const std::size_t len = std::min(n - begin, step), before = t.clipped[0] + t.clipped[1];
    codes(x + begin, len, k, zero, out + begin, t);
    if (t.clipped[0] + t.clipped[1] != before && !all_noted())
      note_first(x, begin, begin + len, channels, map, reports);
  }
  // Two channels are the two lanes; one channel is both.
  for (std::size_t ch = 0; ch < channels; ++ch) {
    ChannelReport &r = reports[ch];
    const int first = channels == 2 ? static_cast<int>(ch) : 0, last = channels == 2 ? first : 1;
    for (int l = first; l <= last; ++l) {
      r.clipped += t.clipped[l];
      r.nonfinite += t.nonfinite[l];
      r.peak = std::max(r.peak, t.peak[l]);
    }
    if (r.clipped == 0) r.peak = 0;  // the peak is reported for clipped values only
  }
}

template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int8_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int16_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::int32_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint8_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint16_t *, ChannelReport *);
template void quantize(const double *, std::size_t, std::size_t, const QuantizeMap &, std::uint32_t *, ChannelReport *);

}  // namespace halvane::kernels
