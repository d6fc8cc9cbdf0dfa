// The FIR stage.
#include "kernels/fir.hpp"
#include "kernels/cplx.hpp"

namespace halvane::kernels {

namespace {

using kernels::cmul;
inline double cmul(double a, double b) { return a * b; }

template <typename T>
void window(const T *src, std::ptrdiff_t len, std::ptrdiff_t first, std::size_t count,
            const T *taps, T *out) {
  for (std::size_t j = 0; j < count; ++j) {
    T acc{};
    const std::ptrdiff_t n = first + static_cast<std::ptrdiff_t>(j);
    for (std::size_t k = 0; k <= j; ++k) {
      std::ptrdiff_t i = n - static_cast<std::ptrdiff_t>(k);
      if (i < 0) i += len;
      acc += cmul(taps[k], src[i]);
    }
    out[j] = acc;
  }
}

}  // namespace

void fir_window(const double *src, std::ptrdiff_t len, std::ptrdiff_t first, std::size_t count,
                const double *taps, double *out) {
  window(src, len, first, count, taps, out);
}

void fir_window(const std::complex<double> *src, std::ptrdiff_t len, std::ptrdiff_t first,
                std::size_t count, const std::complex<double> *taps, std::complex<double> *out) {
  window(src, len, first, count, taps, out);
}

}  // namespace halvane::kernels
