// Uniform sample grids, guard ranges and derivatives.
#include "kernels/grid.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "kernels/cplx.hpp"
#include "kernels/stream.hpp"

namespace halvane::kernels {

void grid_part(double start, double step, std::size_t lo, std::size_t hi, double *out, bool streamed) {
  if (streamed) return stream_grid(start, step, lo, hi, out);
  for (std::size_t k = lo; k < hi; ++k) out[k - lo] = static_cast<double>(k) * step + start;
}

void linspace(double start, double stop, std::size_t n, double *out, std::span<const Range> cached) {
  if (n == 0) return;
  const double step = linspace_step(start, stop, n);
  const Range all{0, n};
  pieces(streams(n * sizeof(double)) ? cached : std::span<const Range>(&all, 1), 0, n,
         [&](std::size_t lo, std::size_t hi, bool streamed) { grid_part(start, step, lo, hi, out + lo, streamed); });
  stream_fence();
}

SampleRange sample_range(double pos, double width, double plateau, double st, double srate,
                         std::int64_t N) {
  const double dur = width + plateau;
  const double a = std::trunc((pos - st) * srate);
  const double b = std::trunc(dur * srate);
  for (double v : {a, b}) {
    if (std::isnan(v)) return {SampleRange::nan, 0, 0, a, b};
    if (std::isinf(v)) return {SampleRange::infinite, 0, 0, a, b};
  }
  // Within +-2^61, a + b + 5 and every difference of the bounds fit in 64 bits.
  constexpr double lim = 0x1p61;
  if (std::fabs(a) > lim || std::fabs(b) > lim) return {SampleRange::wide, 0, 0, a, b};
  const auto ai = static_cast<std::int64_t>(a), bi = static_cast<std::int64_t>(b);
  const std::int64_t first = ai - 5 < 0 ? 0 : ai - 5;
  const std::int64_t end = N < ai + bi + 5 ? N : ai + bi + 5;
  return {SampleRange::ok, first, end, a, b};
}

namespace {

// numpy divides by the spacing 2.0 (inside) and 1.0 (ends) as Python floats,
// i.e. as complex numbers for complex data.
template <class T>
T divide(T v, double d) {
  if constexpr (std::is_same_v<T, double>) {
    return v / d;
  } else {
    return cdiv(v, {d, 0.0});
  }
}

template <class T>
void gradient_impl(const T *f, std::size_t n, T *out) {
  out[0] = divide(f[1] - f[0], 1.0);
  for (std::size_t k = 1; k + 1 < n; ++k) out[k] = divide(f[k + 1] - f[k - 1], 2.0);
  out[n - 1] = divide(f[n - 1] - f[n - 2], 1.0);
}

}  // namespace

void gradient(const double *f, std::size_t n, double *out) { gradient_impl(f, n, out); }
void gradient(const std::complex<double> *f, std::size_t n, std::complex<double> *out) {
  gradient_impl(f, n, out);
}

void normalise(const double *w, std::size_t n, double *out) {
  if (n == 0) return;
  // numpy's min and max propagate NaN.
  double lo = w[0], hi = w[0];
  for (std::size_t k = 1; k < n; ++k) {
    const double v = w[k];
    if (std::isnan(v) || std::isnan(lo)) {
      lo = hi = std::nan("");
      break;
    }
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
  }
  const double range = hi - lo;
  for (std::size_t k = 0; k < n; ++k) out[k] = (w[k] - lo) / range;
}

}  // namespace halvane::kernels
