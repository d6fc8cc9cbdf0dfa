// The loops of pulse_loops.hpp, written once over a lane type V with numpy's
// complex products spelled out lane by lane, and compiled per instruction set
// by simd_baseline.cpp, simd_avx2.cpp and simd_avx512.cpp. (Plain complex
// loops are no good here: the compiler's vectoriser turns their products
// into fused multiply-subtract-adds, which round differently.)
#pragma once
#include <algorithm>
#include <cstddef>

#include "kernels/lanes_complex.hpp"
#include "kernels/pulse_loops.hpp"

namespace halvane::kernels {
namespace {

template <class V>
struct PulseLoopsImpl {
  using D = typename V::D;
  static constexpr int W = V::W;

  // op(io, a, b) updates W complex values at io from those at a (and b); the
  // last partial vector works on zero-padded copies.
  template <class Op>
  static void run(std::size_t n, cdouble *io_, const cdouble *a_, const cdouble *b_, Op op) {
    double *io = reinterpret_cast<double *>(io_);
    const double *a = reinterpret_cast<const double *>(a_), *b = reinterpret_cast<const double *>(b_);
    std::size_t i = 0;
    for (; i + W <= n; i += W) op(io + 2 * i, a + 2 * i, b ? b + 2 * i : nullptr);
    if (i < n) {
      double tio[2 * W] = {}, ta[2 * W] = {}, tb[2 * W] = {};
      const std::size_t m = 2 * (n - i);
      std::copy(io + 2 * i, io + 2 * i + m, tio);
      std::copy(a + 2 * i, a + 2 * i + m, ta);
      if (b) std::copy(b + 2 * i, b + 2 * i + m, tb);
      op(tio, ta, b ? tb : nullptr);
      std::copy(tio, tio + m, io + 2 * i);
    }
  }

  static void drag_sum(cdouble *sh, const cdouble *g, std::size_t n, double srate, cdouble d) {
    run(n, sh, g, nullptr, [&](double *io, const double *a, const double *) {
      D sr, si, gr, gi, ur, ui, vr, vi, wr, wi;
      V::load_interleaved(io, sr, si);
      V::load_interleaved(a, gr, gi);
      cmul<V>(V::set(0.0), V::set(1.0), gr, gi, ur, ui);
      cmul<V>(ur, ui, V::set(srate), V::set(0.0), vr, vi);
      cmul<V>(vr, vi, V::set(d.real()), V::set(d.imag()), wr, wi);
      V::store_interleaved(io, V::add(sr, wr), V::add(si, wi));
    });
  }
  static void rotate(cdouble *sh, const cdouble *c, std::size_t n, cdouble K) {
    run(n, sh, c, nullptr, [&](double *io, const double *a, const double *) {
      D sr, si, cr, ci, tr, ti, r, i;
      V::load_interleaved(io, sr, si);
      V::load_interleaved(a, cr, ci);
      cmul<V>(V::set(K.real()), V::set(K.imag()), sr, si, tr, ti);
      cmul<V>(tr, ti, cr, ci, r, i);
      V::store_interleaved(io, r, i);
    });
  }
  static void add_product(cdouble *Wout, const cdouble *sh, const cdouble *cr, std::size_t n) {
    run(n, Wout, sh, cr, [&](double *io, const double *a, const double *b) {
      D wr, wi, sr, si, er, ei, r, i;
      V::load_interleaved(io, wr, wi);
      V::load_interleaved(a, sr, si);
      V::load_interleaved(b, er, ei);
      cmul<V>(sr, si, er, ei, r, i);
      V::store_interleaved(io, V::add(wr, r), V::add(wi, i));
    });
  }
  static void add(cdouble *S, const cdouble *sh, std::size_t n) {
    run(n, S, sh, nullptr, [&](double *io, const double *a, const double *) {
      D sr, si, hr, hi;
      V::load_interleaved(io, sr, si);
      V::load_interleaved(a, hr, hi);
      V::store_interleaved(io, V::add(sr, hr), V::add(si, hi));
    });
  }

  static constexpr detail::PulseLoops table{drag_sum, rotate, add_product, add};
};

}  // namespace
}  // namespace halvane::kernels
