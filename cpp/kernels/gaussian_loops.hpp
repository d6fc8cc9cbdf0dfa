// The per-sample loops of gauss and netzero over a lane type V and a Math,
// on the helpers of shape_loops.hpp; compiled per instruction set by the
// simd_*.cpp files, which instantiate GaussianLoopsImpl<...>::table.
#pragma once
#include "kernels/gaussian_internal.hpp"
#include "kernels/shape_loops.hpp"

namespace halvane::kernels {
namespace {

template <class V, class Math>
struct GaussianLoopsImpl : Loops<V, Math> {
  using B = Loops<V, Math>;
  using D = typename V::D;
  using M = typename V::M;
  static D k(double v) { return V::set(v); }

  // edge * mask, with the exp taken only where the mask holds: outside it
  // the product is 0, or NaN where -(t * t) / c is NaN (the exp of any
  // other argument lies in [0, 1], where the rest of the formula is finite
  // or NaN alike).
  static void gauss(cdouble amp, const detail::GaussConsts &g, const double *X, std::size_t n,
                    cdouble *out, bool cold) {
    const D ar = k(B::re(amp)), ai = k(B::im(amp));
    const D h = k(g.h), hp = k(g.h + g.plateau), c = k(g.c), one_e0 = k(1 - g.e0);
    B::each(X, n, out, cold, [&](D x, D &r, D &i) {
      const D u = V::sub(x, k(g.pos));
      const M in = V::mand(V::ge(x, k(g.pos)), V::lt(x, k(g.end)));
      const D t = V::select(V::lt(u, h), V::select(V::lt(hp, u), k(0.0), V::sub(u, hp)), V::sub(u, h));
      const D a = V::div(V::neg(V::mul(t, t)), c);
      const D e = V::select(V::isnan(a), B::template where<Math::exp>(in, a), k(B::kNaN));
      const D edge = V::div(V::sub(e, k(g.e0)), one_e0);
      cmul<V>(ar, ai, V::mul(edge, B::ones(in)), k(0.0), r, i);
    });
  }

  // amp * rise1 * fall1 - amp * rise2 * fall2, each term as sine_family.
  static void netzero(cdouble amp, const detail::NetZeroConsts &z, const double *X, std::size_t n,
                      cdouble *out, bool cold) {
    const D ar = k(B::re(amp)), ai = k(B::im(amp));
    B::each(X, n, out, cold, [&](D x, D &r, D &i) {
      D pr, pi, r1, i1, r2, i2;
      cmul<V>(ar, ai, B::sine_edge_at(z.rise1, x), k(0.0), pr, pi);
      cmul<V>(pr, pi, B::sine_edge_at(z.fall1, V::neg(x)), k(0.0), r1, i1);
      cmul<V>(ar, ai, B::sine_edge_at(z.rise2, x), k(0.0), pr, pi);
      cmul<V>(pr, pi, B::sine_edge_at(z.fall2, V::neg(x)), k(0.0), r2, i2);
      r = V::sub(r1, r2);
      i = V::sub(i1, i2);
    });
  }

  static constexpr detail::GaussianLoops table{gauss, netzero};
};

}  // namespace
}  // namespace halvane::kernels
