// The envelope kernels behind envelope(), one family per file.
#pragma once
#include "kernels/cplx.hpp"
#include "kernels/shapes.hpp"

namespace halvane::kernels::detail {

/// Samples per block: transcendental arguments are gathered this many at a
/// time and handed to vmath together.
inline constexpr std::size_t kBlock = 256;

/// np.pi.
inline constexpr double kPi = 3.141592653589793;

// sine_edges.cpp
void square_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out);
/// amp * sine_edge(X, x0, w1, a, b) * sine_edge(-X, -(x0 + width/2 + plateau), w2, a, b)
/// with x0 = pos + width/4.
void sine_family_envelope(const ShapeParams &p, double a, double b, double w1, double w2,
                          const double *X, std::size_t n, cdouble *out);
void sine2pi_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out);

// hyperbolic.cpp
void tanh_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out);
void hyper_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out);

}  // namespace halvane::kernels::detail
