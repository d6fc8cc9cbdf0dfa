// Time grids: the uniform sample times of a window, the guarded sample range
// of a pulse, the derivative of sampled signals and small helpers on them.
#pragma once
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "kernels/stream.hpp"

namespace halvane::kernels {

/// The spacing of linspace(start, stop, n), numpy's (stop - start) / n.
inline double linspace_step(double start, double stop, std::size_t n) {
  return (stop - start) / static_cast<double>(n);
}

/// Samples lo to hi of a grid with that spacing, out[k - lo] = k * step +
/// start (streamed past the caches when `streamed`).
void grid_part(double start, double step, std::size_t lo, std::size_t hi, double *out, bool streamed);

/// out[k] = the k-th of n points from start to stop, endpoint excluded,
/// computed as numpy.linspace(start, stop, n, endpoint=False) does. A grid
/// too large for the caches is streamed past them, except over `cached`
/// (sorted, disjoint ranges of samples read again soon).
void linspace(double start, double stop, std::size_t n, double *out, std::span<const Range> cached = {});

/// The samples a pulse may touch, with a guard of five on each side:
/// a = int((pos - st) * srate), b = int((width + plateau) * srate), then
/// first = max(a - 5, 0), end = min(a + b + 5, N). first may exceed end.
struct SampleRange {
  /// int() of a NaN or infinity fails; `wide` when a or b lies beyond
  /// +-2^61, where the sums need integers wider than 64 bits.
  enum Status { ok, nan, infinite, wide } status;
  std::int64_t first, end;  ///< when ok
  double a, b;              ///< the truncated a and b, when wide
};
SampleRange sample_range(double pos, double width, double plateau, double st, double srate,
                         std::int64_t N);

/// numpy.gradient with unit spacing, n >= 2: central differences inside,
/// one-sided at both ends.
void gradient(const double *f, std::size_t n, double *out);
void gradient(const std::complex<double> *f, std::size_t n, std::complex<double> *out);

/// (w - min(w)) / (max(w) - min(w)), NaN everywhere when w holds a NaN.
void normalise(const double *w, std::size_t n, double *out);

/// (min(A, B), max(A, B)) with the built-ins' rule: ties and NaN give A.
inline std::pair<double, double> mn(double A, double B) {
  return {B < A ? B : A, B > A ? B : A};
}

}  // namespace halvane::kernels
