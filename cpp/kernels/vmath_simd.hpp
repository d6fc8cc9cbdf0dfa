// The vector algorithms of vmath, written once over a lane type V
// (lanes_avx2.hpp, lanes_avx512.hpp) and compiled per instruction set by
// simd_avx2.cpp and simd_avx512.cpp.
//
// Include it only from those files: everything here is in an unnamed
// namespace or templated on a V of an unnamed namespace, so each file has
// its own copy and the linker can never pick an AVX-512 copy of an inline
// function for code that runs on a lesser CPU. For the same reason nothing
// here calls inline library templates; libm is reached through its C
// functions.
//
// V provides: D (lanes), M (lane mask), W (lane count), load/store/set,
// add/sub/mul/div/neg/min/max/abs/sign/or_/xor_, fma(a,b,c) = a*b+c,
// fms(a,b,c) = a*b-c, fnma(a,b,c) = c-a*b (all fused, one rounding),
// rint (to nearest even), lt/le/ge/not_le/isnan -> M, mand/mor,
// select(m, a, b) = m ? b : a, bits(M), and on integer-valued doubles plus
// kShifter: odd (bit 0 set -> M), bit1_sign (bit 1 as the sign bit), shl52;
// store_interleaved / load_interleaved (complex values as re, im pairs).
#pragma once
#include <math.h>

#include <cfloat>
#include <complex>
#include <cstddef>

#include "kernels/vmath.hpp"

namespace halvane::kernels::vmath {
namespace {

// pi/2 = kPio2Hi + kPio2Mid + kPio2Lo to about 160 bits, which keeps the
// reduced argument good to some 2^-100 for every |x| <= kTrigLimit.
constexpr double kPio2Hi = 0x1.921fb54442d18p+0;
constexpr double kPio2Mid = 0x1.1a62633145c07p-54;
constexpr double kPio2Lo = -0x1.f1976b7ed8fbcp-110;
constexpr double k2OverPi = 0x1.45f306dc9c883p-1;
constexpr double kTrigLimit = 0x1p40;
// ln 2 = kLn2Hi + kLn2Lo; kLn2Hi has 32 significant bits, so n * kLn2Hi is
// exact for every |n| < 2^21 and x - n * kLn2Hi is exact too.
constexpr double kLn2Hi = 0x1.62e42feep-1;
constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
constexpr double kInvLn2 = 0x1.71547652b82fep+0;
// Results stay normal up to here; beyond it libm handles the lane.
constexpr double kExpLimit = 708.0;
// Added to an integer-valued double |k| < 2^51, it leaves k (two's
// complement) in the low mantissa bits.
constexpr double kShifter = 0x1.8p52;
// tanh switches from expm1 to exp at this |x|.
constexpr double kTanhSplit = 0.9;

template <class V>
struct Algorithms {
  using D = typename V::D;
  static constexpr int W = V::W;

  static D k(double v) { return V::set(v); }

  // s + e == a + b exactly (Knuth).
  static void two_sum(D a, D b, D &s, D &e) {
    s = V::add(a, b);
    const D bb = V::sub(s, a);
    e = V::add(V::sub(a, V::sub(s, bb)), V::sub(b, bb));
  }

  // x = q * pi/2 + (rh + rl) with |rh| <= pi/4 (plus rounding), for
  // |x| <= kTrigLimit. The reduced argument is carried as two doubles.
  static void reduce_pio2(D x, D &q, D &rh, D &rl) {
    q = V::rint(V::mul(x, k(k2OverPi)));
    if (V::bits(V::le(V::abs(q), k(2.0))) == (1u << W) - 1) return reduce_small(x, q, rh, rl);
    const D p1 = V::mul(q, k(kPio2Hi));
    const D e1 = V::fms(q, k(kPio2Hi), p1);  // q*hi - p1, exactly
    const D s = V::sub(x, p1);                // exact: p1 within a factor 2 of x
    const D p2 = V::mul(q, k(kPio2Mid));
    const D e2 = V::fms(q, k(kPio2Mid), p2);
    const D p3 = V::mul(q, k(kPio2Lo));
    D t, terr, u, uerr;
    two_sum(s, V::neg(e1), t, terr);
    two_sum(t, V::neg(p2), u, uerr);
    const D lo = V::sub(V::sub(V::add(terr, uerr), e2), p3);
    rh = V::add(u, lo);
    rl = V::sub(lo, V::sub(rh, u));
  }

  // reduce_pio2 for |q| <= 2 (the phases of the edges): there q times
  // kPio2Hi and kPio2Mid is exact (the first ends in zero bits, the second is
  // taken only by powers of two), so their error terms are zero and the first
  // compensated sum adds nothing; the same rh and rl come out to the bit.
  static void reduce_small(D x, D q, D &rh, D &rl) {
    const D s = V::sub(x, V::mul(q, k(kPio2Hi)));
    const D p3 = V::mul(q, k(kPio2Lo));
    D u, uerr;
    two_sum(s, V::neg(V::mul(q, k(kPio2Mid))), u, uerr);
    const D lo = V::sub(V::add(uerr, k(0.0)), p3);  // + 0: a -0 error becomes +0, as in the full sum
    rh = V::add(u, lo);
    rl = V::sub(lo, V::sub(rh, u));
  }

  // sin(rh + rl) = rh + rh^3 S(z) + rl (1 - z/2), z = rh^2; Taylor series to
  // rh^17, whose remainder is below 1e-19 on |rh| <= pi/4.
  static D sin_kernel(D rh, D rl, D z) {
    D s = k(1.0 / 355687428096000.0);
    s = V::fma(s, z, k(-1.0 / 1307674368000.0));
    s = V::fma(s, z, k(1.0 / 6227020800.0));
    s = V::fma(s, z, k(-1.0 / 39916800.0));
    s = V::fma(s, z, k(1.0 / 362880.0));
    s = V::fma(s, z, k(-1.0 / 5040.0));
    s = V::fma(s, z, k(1.0 / 120.0));
    s = V::fma(s, z, k(-1.0 / 6.0));
    const D tail = V::fma(V::mul(z, rh), s, V::mul(rl, V::fnma(k(0.5), z, k(1.0))));
    return V::add(rh, tail);
  }

  // cos(rh + rl) = 1 - z/2 + z^2 C(z) - rh rl, Taylor series to rh^16. The
  // rounding errors of z and of 1 - z/2 are carried into the tail.
  static D cos_kernel(D rh, D rl, D z) {
    D c = k(1.0 / 20922789888000.0);
    c = V::fma(c, z, k(-1.0 / 87178291200.0));
    c = V::fma(c, z, k(1.0 / 479001600.0));
    c = V::fma(c, z, k(-1.0 / 3628800.0));
    c = V::fma(c, z, k(1.0 / 40320.0));
    c = V::fma(c, z, k(-1.0 / 720.0));
    c = V::fma(c, z, k(1.0 / 24.0));
    const D zl = V::fms(rh, rh, z);
    const D hz = V::mul(k(0.5), z);
    const D w = V::sub(k(1.0), hz);
    const D werr = V::sub(V::sub(V::sub(k(1.0), w), hz), V::mul(k(0.5), zl));
    const D tail = V::add(werr, V::fms(V::mul(z, z), c, V::mul(rh, rl)));
    return V::add(w, tail);
  }

  // sin x = (sr, cr, -sr, -cr)[q mod 4], cos x = (cr, -sr, -cr, sr)[q mod 4],
  // with sr, cr the sine and cosine of the reduced argument.
  static void sincos(D x, D &s, D &c) {
    D q, rh, rl;
    reduce_pio2(x, q, rh, rl);
    const D z = V::mul(rh, rh);
    const D sr = sin_kernel(rh, rl, z);
    const D cr = cos_kernel(rh, rl, z);
    const D qb = V::add(q, k(kShifter));
    const auto odd = V::odd(qb);
    s = V::xor_(V::select(odd, sr, cr), V::bit1_sign(qb));
    c = V::xor_(V::select(odd, cr, sr), V::bit1_sign(V::add(qb, k(1.0))));
  }

  // One of sin_kernel and cos_kernel per lane: when the lanes agree on it (a
  // slowly varying phase), only that one runs.
  static D one_kernel(D rh, D rl, D z, decltype(V::odd(z)) use_cos) {
    const unsigned lanes = V::bits(use_cos);
    if (lanes == 0) return sin_kernel(rh, rl, z);
    if (lanes == (1u << W) - 1) return cos_kernel(rh, rl, z);
    return V::select(use_cos, sin_kernel(rh, rl, z), cos_kernel(rh, rl, z));
  }

  static D sin_core(D x) {
    D q, rh, rl;
    reduce_pio2(x, q, rh, rl);
    const D qb = V::add(q, k(kShifter));
    return V::xor_(one_kernel(rh, rl, V::mul(rh, rh), V::odd(qb)), V::bit1_sign(qb));
  }

  static D cos_core(D x) {
    D q, rh, rl;
    reduce_pio2(x, q, rh, rl);
    const D qb = V::add(q, k(kShifter));
    const D qb1 = V::add(qb, k(1.0));
    return V::xor_(one_kernel(rh, rl, V::mul(rh, rh), V::odd(qb1)), V::bit1_sign(qb1));
  }

  // e^r - 1 = r + r^2 P(r), Taylor series to r^13 (remainder below 5e-18 on
  // |r| <= ln2/2).
  static D expm1_kernel(D r) { return V::fma(V::mul(r, r), expm1_tail(r), r); }

  // P(r) of e^r - 1 = r + r^2 P(r).
  static D expm1_tail(D r) {
    D p = k(1.0 / 6227020800.0);
    p = V::fma(p, r, k(1.0 / 479001600.0));
    p = V::fma(p, r, k(1.0 / 39916800.0));
    p = V::fma(p, r, k(1.0 / 3628800.0));
    p = V::fma(p, r, k(1.0 / 362880.0));
    p = V::fma(p, r, k(1.0 / 40320.0));
    p = V::fma(p, r, k(1.0 / 5040.0));
    p = V::fma(p, r, k(1.0 / 720.0));
    p = V::fma(p, r, k(1.0 / 120.0));
    p = V::fma(p, r, k(1.0 / 24.0));
    p = V::fma(p, r, k(1.0 / 6.0));
    return V::fma(p, r, k(0.5));
  }

  // e^x = 2^n (1 + p) for |x| <= kExpLimit.
  static void exp_parts(D x, D &n, D &p) {
    n = V::rint(V::mul(x, k(kInvLn2)));
    const D hi = V::fnma(n, k(kLn2Hi), x);
    p = expm1_kernel(V::fnma(n, k(kLn2Lo), hi));
  }

  static D pow2(D n) { return V::shl52(V::add(n, k(kShifter + 1023.0))); }

  static D exp_core(D x) {
    D n, p;
    exp_parts(x, n, p);
    return V::mul(V::add(k(1.0), p), pow2(n));
  }

  // cosh x = 2^(n-1) (E + 2^-2n / E) with e^|x| = 2^n E, E = 1 + p carried
  // in two doubles and 1/E corrected once.
  static D cosh_core(D x) {
    D n, p;
    exp_parts(V::abs(x), n, p);
    const D e = V::add(k(1.0), p);
    const D e_lo = V::sub(p, V::sub(e, k(1.0)));
    const D inv = V::div(k(1.0), e);
    const D inv_lo = V::mul(inv, V::fnma(inv, e_lo, V::fnma(inv, e, k(1.0))));
    const D scale = pow2(V::max(V::mul(k(-2.0), n), k(-1022.0)));
    const D small = V::fma(scale, V::add(inv, inv_lo), e_lo);
    return V::mul(V::add(e, small), pow2(V::sub(n, k(1.0))));
  }

  // tanh |x| = 1 - 2 / (e^{2|x|} + 1) from kTanhSplit on (exactly 1 from
  // |x| = 20 on), and em / (em + 2) with em = expm1(2|x|) below, which keeps
  // full relative accuracy near 0.
  static D tanh_big(D ax) {
    const D big = V::min(ax, k(20.0));
    const D e = exp_core(V::add(big, big));
    return V::sub(k(1.0), V::div(k(2.0), V::add(e, k(1.0))));
  }

  static D tanh_small(D ax) {
    const D y = V::add(V::min(ax, k(kTanhSplit)), V::min(ax, k(kTanhSplit)));
    // expm1(y) = s (r + r^2 P(r)) + (s - 1), s = 2^n, with r and the sum
    // carried in two doubles.
    const D n = V::rint(V::mul(y, k(kInvLn2)));
    const D hi = V::fnma(n, k(kLn2Hi), y);
    const D rh = V::fnma(n, k(kLn2Lo), hi);
    const D rl = V::fnma(n, k(kLn2Lo), V::sub(hi, rh));
    const D s = pow2(n);
    D sum, err;
    two_sum(V::mul(s, rh), V::sub(s, k(1.0)), sum, err);
    const D tail = V::fma(s, V::fma(V::mul(rh, rh), expm1_tail(rh), rl), err);
    const D em = V::add(sum, tail);
    const D em_lo = V::sub(tail, V::sub(em, sum));
    // em / (em + 2) with both in two doubles, the quotient corrected once.
    D d, d_err;
    two_sum(em, k(2.0), d, d_err);
    const D d_lo = V::add(d_err, em_lo);
    const D q = V::div(em, d);
    const D res = V::fnma(q, d_lo, V::add(V::fnma(q, d, em), em_lo));
    return V::add(q, V::div(res, d));
  }

  // Neighbouring samples mostly fall on one side of the split, so each
  // branch runs only when some lane needs it.
  static D tanh_core(D x) {
    const D ax = V::abs(x);
    const auto small = V::lt(ax, k(kTanhSplit));
    const unsigned lanes = V::bits(small);
    D t;
    if (lanes == 0)
      t = tanh_big(ax);
    else if (lanes == (1u << W) - 1)
      t = tanh_small(ax);
    else
      t = V::select(small, tanh_big(ax), tanh_small(ax));
    return V::or_(t, V::sign(x));
  }

  // F(x) lane-wise; lanes with |x| beyond `limit` (or NaN) go to libm.
  template <D (*F)(D), double (*Libm)(double)>
  static D checked(D x, double limit) { return libm_beyond<Libm>(x, F(x), limit); }

  // r, with Libm(x) in the lanes where |x| is beyond `limit` (or NaN).
  template <double (*Libm)(double)>
  static D libm_beyond(D x, D r, double limit) {
    const unsigned bad = V::bits(V::not_le(V::abs(x), k(limit)));
    if (bad) {
      double xs[W], rs[W];
      V::store(xs, x);
      V::store(rs, r);
      for (int j = 0; j < W; ++j)
        if (bad >> j & 1u) rs[j] = Libm(xs[j]);
      r = V::load(rs);
    }
    return r;
  }

  // For every argument.
  static D sin(D x) { return checked<sin_core, ::sin>(x, kTrigLimit); }
  static D cos(D x) { return checked<cos_core, ::cos>(x, kTrigLimit); }

  // c1 = cos(x1), c2 = cos(x2), the same bits as cos() of each. When every
  // lane needs the sine kernel for one argument and the cosine kernel for
  // the other (the carrier's two phases a quarter period apart), each
  // kernel runs once on the lanes gathered for it, not twice.
  static void cos_pair(D x1, D x2, D &c1, D &c2) {
    D q1, rh1, rl1, q2, rh2, rl2;
    reduce_pio2(x1, q1, rh1, rl1);
    reduce_pio2(x2, q2, rh2, rl2);
    const D qb1 = V::add(V::add(q1, k(kShifter)), k(1.0)), qb2 = V::add(V::add(q2, k(kShifter)), k(1.0));
    const auto cos1 = V::odd(qb1), cos2 = V::odd(qb2);
    D k1, k2;
    if ((V::bits(cos1) ^ V::bits(cos2)) == (1u << W) - 1) {
      // Lanes in cos1 take the cosine kernel for x1 and the sine kernel for x2.
      const D ch = V::select(cos1, rh2, rh1), cl = V::select(cos1, rl2, rl1);
      const D sh = V::select(cos1, rh1, rh2), sl = V::select(cos1, rl1, rl2);
      const D kc = cos_kernel(ch, cl, V::mul(ch, ch)), ks = sin_kernel(sh, sl, V::mul(sh, sh));
      k1 = V::select(cos1, ks, kc);
      k2 = V::select(cos1, kc, ks);
    } else {
      k1 = one_kernel(rh1, rl1, V::mul(rh1, rh1), cos1);
      k2 = one_kernel(rh2, rl2, V::mul(rh2, rh2), cos2);
    }
    c1 = libm_beyond<::cos>(x1, V::xor_(k1, V::bit1_sign(qb1)), kTrigLimit);
    c2 = libm_beyond<::cos>(x2, V::xor_(k2, V::bit1_sign(qb2)), kTrigLimit);
  }
  static D exp(D x) { return checked<exp_core, ::exp>(x, kExpLimit); }
  static D cosh(D x) { return checked<cosh_core, ::cosh>(x, kExpLimit); }
  static D tanh(D x) { return checked<tanh_core, ::tanh>(x, DBL_MAX); }

  // out = F(x) over an array; the last partial vector is padded with zeros.
  template <D (*F)(D)>
  static void map(const double *x, std::size_t n, double *out) {
    std::size_t i = 0;
    for (; i + W <= n; i += W) V::store(out + i, F(V::load(x + i)));
    if (i < n) {
      double xs[W] = {}, rs[W];
      for (std::size_t j = 0; i + j < n; ++j) xs[j] = x[i + j];
      V::store(rs, F(V::load(xs)));
      for (std::size_t j = 0; i + j < n; ++j) out[i + j] = rs[j];
    }
  }

  // (cos x, sin x) interleaved into out[0 .. 2W); lanes beyond kTrigLimit
  // (or NaN) go to libm.
  static void cis(D x, double *out) {
    D s, c;
    sincos(x, s, c);
    const unsigned bad = V::bits(V::not_le(V::abs(x), k(kTrigLimit)));
    if (bad) {
      double xs[W], ss[W], cs[W];
      V::store(xs, x);
      V::store(ss, s);
      V::store(cs, c);
      for (int j = 0; j < W; ++j)
        if (bad >> j & 1u) {
          ss[j] = ::sin(xs[j]);
          cs[j] = ::cos(xs[j]);
        }
      s = V::load(ss);
      c = V::load(cs);
    }
    V::store_interleaved(out, c, s);
  }

  static void cis_array(const double *x, std::size_t n, std::complex<double> *out) {
    double *o = reinterpret_cast<double *>(out);
    std::size_t i = 0;
    for (; i + W <= n; i += W) cis(V::load(x + i), o + 2 * i);
    if (i < n) {
      double xs[W] = {}, rs[2 * W];
      for (std::size_t j = 0; i + j < n; ++j) xs[j] = x[i + j];
      cis(V::load(xs), rs);
      for (std::size_t j = 0; 2 * (i + j) < 2 * n; ++j) {
        o[2 * (i + j)] = rs[2 * j];
        o[2 * (i + j) + 1] = rs[2 * j + 1];
      }
    }
  }

  static constexpr Functions table{map<sin>, map<cos>, cis_array, map<exp>, map<cosh>, map<tanh>};
};

}  // namespace
}  // namespace halvane::kernels::vmath
