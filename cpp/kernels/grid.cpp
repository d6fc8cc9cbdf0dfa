// Uniform sample grids.
#include "kernels/grid.hpp"

namespace halvane::kernels {

void linspace(double start, double stop, std::size_t n, double *out) {
  // numpy: step = (stop - start) / n; y = arange(n) * step + start.
  if (n == 0) return;
  const double step = (stop - start) / static_cast<double>(n);
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<double>(k) * step + start;
}

}  // namespace halvane::kernels
