// The streaming fills of stream.hpp, written once over a lane type V (which
// has stream(), an aligned non-temporal store) and compiled per instruction
// set like the shape loops.
#pragma once
#include <cstddef>

#include "kernels/stream.hpp"

namespace halvane::kernels {
namespace {

template <class V>
struct Streams {
  using D = typename V::D;
  static constexpr int W = V::W;

  // W / 2 complex values per vector, so n is taken in pairs of vectors.
  static void fill(cdouble v, std::size_t n, cdouble *out) {
    if constexpr (W < 2) {
      for (std::size_t i = 0; i < n; ++i) out[i] = v;
      return;
    }
    double pattern[W < 2 ? 2 : W];
    for (int j = 0; j < W; j += 2) {
      pattern[j] = v.real();
      pattern[j + 1] = v.imag();
    }
    const D p = V::load(pattern);
    double *o = reinterpret_cast<double *>(out);
    const std::size_t m = 2 * n;
    std::size_t i = 0;
    for (; i + W <= m; i += W) V::stream(o + i, p);
    for (; i < m; i += 2) out[i / 2] = v;
  }

  // out[j] = (k + j) * step + start for j in [0, n).
  static void grid(double start, double step, std::size_t k, std::size_t n, double *out) {
    double first[W];
    for (int j = 0; j < W; ++j) first[j] = static_cast<double>(k + static_cast<std::size_t>(j));
    D idx = V::load(first);
    const D vstep = V::set(step), vstart = V::set(start), width = V::set(W);
    std::size_t j = 0;
    for (; j + W <= n; j += W) {
      V::stream(out + j, V::add(V::mul(idx, vstep), vstart));
      idx = V::add(idx, width);
    }
    for (; j < n; ++j) out[j] = static_cast<double>(k + j) * step + start;
  }

  static void copy(const cdouble *in, std::size_t n, cdouble *out) {
    const double *i = reinterpret_cast<const double *>(in);
    double *o = reinterpret_cast<double *>(out);
    const std::size_t m = 2 * n;
    std::size_t j = 0;
    for (; j + W <= m; j += W) V::stream(o + j, V::load(i + j));
    for (; j < m; ++j) o[j] = i[j];
  }

  static constexpr detail::StreamLoops table{fill, grid, copy, W * sizeof(double)};
};

}  // namespace
}  // namespace halvane::kernels
