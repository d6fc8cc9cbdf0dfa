// Samples to DAC codes: saturating, never wrapping, with every clipped and
// non-finite value counted.
#pragma once
#include <cstddef>
#include <cstdint>

namespace halvane::kernels {

/// The linear map of a converter of `bits` bits: a value v becomes the code
/// rint((v + offset) * max_code / full_scale), clamped to [-max_code,
/// max_code], plus `zero` (0 for two's complement, 2^(bits-1) for offset binary).
struct QuantizeMap {
  double offset;
  double full_scale;
  double max_code;  ///< 2^(bits-1) - 1
  double zero;
};

/// How many first clipped positions a channel keeps.
inline constexpr std::size_t first_kept = 8;

/// What one channel (I, Q, or the only one of real samples) did.
struct ChannelReport {
  std::size_t clipped = 0;     ///< finite values with |v + offset| > full_scale (beyond its rounding, 4 ulps)
  std::size_t nonfinite = 0;   ///< NaN and infinities, written as the code of 0
  double peak = 0;             ///< the largest |v + offset| among the clipped values, else 0
  std::size_t first[first_kept] = {};  ///< sample indices of the first clipped values
  std::size_t nfirst = 0;
};

/// Quantize n values of `channels` (1 or 2) interleaved channels (value i
/// is sample i / channels of channel i % channels) into `out`; `reports`
/// has one zeroed entry per channel. Defined for the codes int8/16/32 and uint8/16/32.
template <typename Code>
void quantize(const double *x, std::size_t n, std::size_t channels, const QuantizeMap &map, Code *out,
              ChannelReport *reports);

}  // namespace halvane::kernels
