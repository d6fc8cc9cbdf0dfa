// Time grids: the uniform sample times of a window and the derivative of
// sampled signals.
#pragma once
#include <complex>
#include <cstddef>

namespace halvane::kernels {

/// out[k] = the k-th of n points from start to stop, endpoint excluded,
/// computed as numpy.linspace(start, stop, n, endpoint=False) does.
void linspace(double start, double stop, std::size_t n, double *out);

}  // namespace halvane::kernels
