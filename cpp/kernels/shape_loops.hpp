// The per-sample loops of the shapes and the carrier, written once over a
// lane type V and a Math (sin, cos, tanh, cosh, exp of every argument) and
// compiled per instruction set by simd_baseline.cpp, simd_avx2.cpp and
// simd_avx512.cpp, which instantiate Loops<...>::table.
//
// Each loop is one pass: the transcendental stays in registers between the
// arithmetic that makes its argument and the arithmetic that uses it.
// Everything is in an unnamed namespace for the reason given in
// vmath_simd.hpp; complex values are handled as pairs of doubles.
//
// A masked numpy product such as mask * (sin(ph) - l) / (r - l) takes the
// sine everywhere and multiplies by 0 outside the mask; the result there is
// 0, or NaN when the unmasked value is not finite. The loops take the
// transcendental of 0 outside the mask (a huge phase there would only cost
// time) and reproduce the outside value from the argument instead.
//
// Masks and window bounds are the formula's comparisons on the formula's
// doubles. Where the formula divides a transcendental's argument or result by
// a per-call constant, the loops multiply by its reciprocal: a vector
// division costs as much as the rest of a sample, and the difference is an
// ulp, below that of the transcendental itself; infinities and NaN come out
// the same. hyper divides, because its normalisation turns the exact zeros
// at the pulse's ends into NaN when nothing else is sampled.
#pragma once
#include <cfloat>
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "kernels/lanes_complex.hpp"
#include "kernels/shapes_internal.hpp"
#include "kernels/stream.hpp"

namespace halvane::kernels {
namespace {

template <class V, class Math>
struct Loops {
  using D = typename V::D;
  using M = typename V::M;
  static constexpr int W = V::W;
  static constexpr double kNaN = __builtin_nan("");

  static D k(double v) { return V::set(v); }
  static double re(const cdouble &z) { return reinterpret_cast<const double *>(&z)[0]; }
  static double im(const cdouble &z) { return reinterpret_cast<const double *>(&z)[1]; }
  static D ones(M m) { return V::select(m, k(0.0), k(1.0)); }
  static M finite(D x) { return V::le(V::abs(x), k(DBL_MAX)); }

  // F of the lanes in m, 0 elsewhere; nothing to compute when m is empty
  // (a plateau, or the samples outside an edge).
  template <D (*F)(D)>
  static D where(M m, D x) {
    return V::bits(m) ? F(V::select(m, k(0.0), x)) : k(0.0);
  }

  // body(x, r, i) turns W sample times into W complex values. A partial
  // vector (the head before an aligned output, the tail) reads a copy padded
  // with its last time. An output too large for the caches, or cold and
  // larger than a core's (streams()), is streamed past them from its first
  // sample aligned to a whole vector, unless the caller reads it back
  // (MayStream false).
  template <bool MayStream = true, class Body>
  static void each(const double *X, std::size_t n, cdouble *out, bool cold, Body body) {
    double *o = reinterpret_cast<double *>(out);
    auto partial = [&](std::size_t i, std::size_t m) {
      double xs[W], os[2 * W];
      for (std::size_t j = 0; j < W; ++j) xs[j] = X[i + (j < m ? j : m - 1)];
      D r, im_;
      body(V::load(xs), r, im_);
      V::store_interleaved(os, r, im_);
      for (std::size_t j = 0; j < m; ++j) {
        o[2 * (i + j)] = os[2 * j];
        o[2 * (i + j) + 1] = os[2 * j + 1];
      }
    };
    std::size_t i = 0;
    constexpr std::size_t align = W * sizeof(double);
    const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(o);
    if (MayStream && W > 1 && streams(n * sizeof(cdouble), cold) && addr % sizeof(cdouble) == 0) {
      i = std::min(n, (align - addr % align) % align / sizeof(cdouble));
      if (i > 0) partial(0, i);
      for (; i + W <= n; i += W) {
        D r, im_;
        body(V::load(X + i), r, im_);
        V::stream_interleaved(o + 2 * i, r, im_);
      }
      stream_fence();
    }
    for (; i + W <= n; i += W) {
      D r, im_;
      body(V::load(X + i), r, im_);
      V::store_interleaved(o + 2 * i, r, im_);
    }
    if (i < n) partial(i, n - i);
  }


  // ---- edges ----

  // mask * (sin(ph) - l) / (r - l) + (x >= hi)
  static D sine_edge_at(const detail::SineEdgeConsts &e, D x) {
    const D ph = V::mul(k(detail::kPi),
                        V::add(V::mul(V::mul(V::sub(x, k(e.x0)), k(e.bma)), k(e.inv_w)), k(e.mid)));
    const M in = V::mand(V::ge(x, k(e.lo)), V::lt(x, k(e.hi)));
    const D s = where<Math::sin>(in, ph);
    const D t_in = V::mul(V::sub(s, k(e.l)), k(e.inv_rl));
    const D t_out = V::select(finite(ph), k(kNaN), k(e.outside));
    return V::add(V::select(in, t_out, t_in), ones(V::ge(x, k(e.hi))));
  }

  // mask * sin(ph)
  static D full_period_at(const detail::FullPeriodConsts &e, D x) {
    const D ph = V::mul(k(2.0 * detail::kPi), V::mul(V::sub(x, k(e.x0)), k(e.inv_w)));
    const M in = V::mand(V::ge(x, k(e.lo)), V::lt(x, k(e.hi)));
    const D s = where<Math::sin>(in, ph);
    return V::select(in, V::select(finite(ph), k(kNaN), k(0.0)), s);
  }

  static void sine_edge(const detail::SineEdgeConsts &e, const double *X, std::size_t n, cdouble *out,
                        bool cold) {
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      r = sine_edge_at(e, x);
      i = k(0.0);
    });
  }

  static void sine_edge_2pi(const detail::FullPeriodConsts &e, const double *X, std::size_t n,
                            cdouble *out, bool cold) {
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      r = full_period_at(e, x);
      i = k(0.0);
    });
  }

  // ---- envelopes ----

  // amp * (mask + 0j)
  static void square(cdouble amp, double start, double end, const double *X, std::size_t n,
                     cdouble *out, bool cold) {
    const D ar = k(re(amp)), ai = k(im(amp));
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      cmul<V>(ar, ai, ones(V::mand(V::ge(x, k(start)), V::lt(x, k(end)))), k(0.0), r, i);
    });
  }

  static void sine_family(cdouble amp, const detail::SineEdgeConsts &rise, const detail::SineEdgeConsts &fall,
                          const double *X, std::size_t n, cdouble *out, bool cold) {
    const D ar = k(re(amp)), ai = k(im(amp));
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      D pr, pi;
      cmul<V>(ar, ai, sine_edge_at(rise, x), k(0.0), pr, pi);
      cmul<V>(pr, pi, sine_edge_at(fall, V::neg(x)), k(0.0), r, i);
    });
  }

  static void sine2pi(cdouble amp, const detail::FullPeriodConsts &e, const double *X, std::size_t n,
                      cdouble *out, bool cold) {
    const D ar = k(re(amp)), ai = k(im(amp));
    each(X, n, out, cold, [&](D x, D &r, D &i) { cmul<V>(ar, ai, full_period_at(e, x), k(0.0), r, i); });
  }

  // (amp * t) * (mask + 0j), one half of tanh.
  static void tanh_half(D ar, D ai, D t, M m, D &r, D &i) {
    D pr, pi;
    cmul<V>(ar, ai, t, k(0.0), pr, pi);
    cmul<V>(pr, pi, ones(m), k(0.0), r, i);
  }

  static void tanh(const ShapeParams &p, double eps, const double *X, std::size_t n, cdouble *out,
                   bool cold) {
    const D ar = k(re(p.amp)), ai = k(im(p.amp));
    const double tau = p.width / 2, w2 = p.width / 2, inv_tau = 1.0 / tau;
    const D tol = k(1e-10);
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      const D u = V::sub(x, k(p.pos));
      const D um = V::sub(u, k(w2));
      const M rising = V::mand(V::ge(u, tol), V::lt(um, tol));
      const M falling = V::mand(V::ge(um, tol), V::le(V::sub(u, k(p.width)), tol));
      const D a1 = V::mul(V::mul(k(2 * eps), u), k(inv_tau));
      const D a2 = V::mul(V::mul(k(2 * eps), V::sub(k(2 * tau), u)), k(inv_tau));
      // The halves are disjoint: one tanh per sample.
      const D t = where<Math::tanh>(V::mor(rising, falling), V::select(rising, a2, a1));
      const D t1 = V::select(rising, V::select(V::isnan(a1), k(0.0), k(kNaN)), t);
      const D t2 = V::select(falling, V::select(V::isnan(a2), k(0.0), k(kNaN)), t);
      D r1, i1, r2, i2;
      tanh_half(ar, ai, t1, rising, r1, i1);
      tanh_half(ar, ai, t2, falling, r2, i2);
      r = V::add(r1, r2);
      i = V::add(i1, i2);
    });
  }

  // h * (rising + 0j) + h * (falling + 0j), h = cosh(eps/2) - cosh(eps * (u/w - 0.5)).
  // Outside both halves the sum is 0 even where cosh(...) overflowed (see
  // shape_hyperbolic.cpp); only a NaN h, which needs a NaN v or a non-finite c0,
  // survives there.
  static double hyper(const ShapeParams &p, double eps, double c0, const double *X, std::size_t n,
                      cdouble *out) {
    const double w2 = p.width / 2;
    const D tol = k(1e-20), half_eps = k(eps / 2);
    const double h_out = c0 - c0 == 0 ? 0.0 : kNaN;
    D peak = k(-__builtin_inf());
    M nan = V::isnan(k(0.0));
    each<false>(X, n, out, false, [&](D x, D &r, D &i) {
      const D u = V::sub(x, k(p.pos));
      const D um = V::sub(u, k(w2));
      const M rising = V::mand(V::ge(u, tol), V::lt(um, tol));
      const M falling = V::mand(V::ge(um, tol), V::le(V::sub(u, k(p.width)), tol));
      const M inside = V::mor(rising, falling);
      // A true division: at the pulse's two ends u / w is exactly 0 or 1, so |v|
      // is exactly eps/2 and h exactly 0, as the formula has it; a pulse whose
      // only samples are its ends then normalises 0 by 0 to NaN.
      const D v = V::mul(k(eps), V::sub(V::div(u, k(p.width)), k(0.5)));
      const D av = V::abs(v);
      const D c = V::select(V::mand(V::le(av, half_eps), V::ge(av, half_eps)),
                            where<Math::cosh>(inside, v), k(c0));
      const D h = V::select(inside, V::select(V::isnan(v), k(h_out), k(kNaN)), V::sub(k(c0), c));
      D r1, i1, r2, i2;
      cmul<V>(h, k(0.0), ones(rising), k(0.0), r1, i1);
      cmul<V>(h, k(0.0), ones(falling), k(0.0), r2, i2);
      r = V::add(r1, r2);
      i = V::add(i1, i2);
      // The padded lanes of a last partial vector repeat the last sample.
      peak = V::max(peak, r);
      nan = V::mor(nan, V::mor(V::isnan(r), V::isnan(i)));
    });
    double lanes[W];
    V::store(lanes, peak);
    double best = lanes[0];
    for (int j = 1; j < W; ++j) best = lanes[j] > best ? lanes[j] : best;
    return V::bits(nan) ? kNaN : best;
  }

  // edge * mask, with the exp taken only where the mask holds: outside it
  // the product is 0, or NaN where -(t * t) / c is NaN (the exp of any
  // other argument lies in [0, 1], where the rest of the formula is finite
  // or NaN alike).
  static void gauss(cdouble amp, const detail::GaussConsts &g, const double *X, std::size_t n,
                    cdouble *out, bool cold) {
    const D ar = k(re(amp)), ai = k(im(amp));
    const D h = k(g.h), hp = k(g.h + g.plateau), c = k(g.c), one_e0 = k(1 - g.e0);
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      const D u = V::sub(x, k(g.pos));
      const M in = V::mand(V::ge(x, k(g.pos)), V::lt(x, k(g.end)));
      const D t = V::select(V::lt(u, h), V::select(V::lt(hp, u), k(0.0), V::sub(u, hp)), V::sub(u, h));
      const D a = V::div(V::neg(V::mul(t, t)), c);
      const D e = V::select(V::isnan(a), where<Math::exp>(in, a), k(kNaN));
      const D edge = V::div(V::sub(e, k(g.e0)), one_e0);
      cmul<V>(ar, ai, V::mul(edge, ones(in)), k(0.0), r, i);
    });
  }

  // amp * rise1 * fall1 - amp * rise2 * fall2, each term as sine_family.
  static void netzero(cdouble amp, const detail::NetZeroConsts &z, const double *X, std::size_t n,
                      cdouble *out, bool cold) {
    const D ar = k(re(amp)), ai = k(im(amp));
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      D pr, pi, r1, i1, r2, i2;
      cmul<V>(ar, ai, sine_edge_at(z.rise1, x), k(0.0), pr, pi);
      cmul<V>(pr, pi, sine_edge_at(z.fall1, V::neg(x)), k(0.0), r1, i1);
      cmul<V>(ar, ai, sine_edge_at(z.rise2, x), k(0.0), pr, pi);
      cmul<V>(pr, pi, sine_edge_at(z.fall2, V::neg(x)), k(0.0), r2, i2);
      r = V::sub(r1, r2);
      i = V::sub(i1, i2);
    });
  }

  // out = amp * (out / d)
  static void scale(cdouble amp, const CDivisor &d, std::size_t n, cdouble *out) {
    const D ar = k(re(amp)), ai = k(im(amp)), rat = k(d.rat), scl = k(d.scl);
    const auto body = [&](const double *y, double *o) {
      D yr, yi, qr, qi, r, i;
      V::load_interleaved(y, yr, yi);
      if (d.zero) {
        qr = V::div(yr, scl);
        qi = V::div(yi, scl);
      } else if (d.real_major) {
        qr = V::mul(V::add(yr, V::mul(yi, rat)), scl);
        qi = V::mul(V::sub(yi, V::mul(yr, rat)), scl);
      } else {
        qr = V::mul(V::add(V::mul(yr, rat), yi), scl);
        qi = V::mul(V::sub(V::mul(yi, rat), yr), scl);
      }
      cmul<V>(ar, ai, qr, qi, r, i);
      V::store_interleaved(o, r, i);
    };
    double *o = reinterpret_cast<double *>(out);
    std::size_t i = 0;
    for (; i + W <= n; i += W) body(o + 2 * i, o + 2 * i);
    if (i < n) {
      double ys[2 * W] = {}, os[2 * W];
      for (std::size_t j = 0; 2 * (i + j) < 2 * n; ++j) {
        ys[2 * j] = o[2 * (i + j)];
        ys[2 * j + 1] = o[2 * (i + j) + 1];
      }
      body(ys, os);
      for (std::size_t j = 0; i + j < n; ++j) {
        o[2 * (i + j)] = os[2 * j];
        o[2 * (i + j) + 1] = os[2 * j + 1];
      }
    }
  }

  // A * cos(th) - (1j * B) * cos(th + p2), the real cosines made complex.
  static void carrier(double omega, double p2, double A, double B, const double *X, std::size_t n,
                      cdouble *out, bool cold) {
    each(X, n, out, cold, [&](D x, D &r, D &i) {
      const D th = V::mul(k(omega), x);
      D c1, c2;
      Math::cos_pair(th, V::add(th, k(p2)), c1, c2);
      r = V::sub(V::mul(k(A), c1), V::sub(V::mul(k(0.0), c2), k(B * 0.0)));
      i = V::sub(k(0.0), V::mul(k(B), c2));
    });
  }

  // By name, so that a slot of ShapeLoops and its loop cannot be matched wrongly.
  static constexpr detail::ShapeLoops table{
      .square = square,   .sine_family = sine_family, .sine_edge = sine_edge, .sine2pi = sine2pi,
      .sine_edge_2pi = sine_edge_2pi, .tanh = tanh,   .hyper = hyper,         .gauss = gauss,
      .netzero = netzero, .scale = scale,             .carrier = carrier};
};

}  // namespace
}  // namespace halvane::kernels
