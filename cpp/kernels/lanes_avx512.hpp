// Eight double lanes on AVX-512 F/DQ, for the vector algorithms
// (vmath_simd.hpp, shape_loops.hpp). Include only from simd_avx512.cpp: the
// unnamed namespace keeps every function local to that file.
#pragma once
#include <immintrin.h>

// GCC 12's AVX-512 intrinsics pass an intentionally undefined vector as the
// pass-through operand, which -Wmaybe-uninitialized reports at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace halvane::kernels {
namespace {

struct Avx512 {
  using D = __m512d;
  using M = __mmask8;
  static constexpr int W = 8;

  static D load(const double *p) { return _mm512_loadu_pd(p); }
  static void store(double *p, D v) { _mm512_storeu_pd(p, v); }
  static void stream(double *p, D v) { _mm512_stream_pd(p, v); }
  static D set(double v) { return _mm512_set1_pd(v); }
  static D add(D a, D b) { return _mm512_add_pd(a, b); }
  static D sub(D a, D b) { return _mm512_sub_pd(a, b); }
  static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
  static D div(D a, D b) { return _mm512_div_pd(a, b); }
  static D neg(D a) { return _mm512_xor_pd(a, set(-0.0)); }
  static D min(D a, D b) { return _mm512_min_pd(a, b); }
  static D max(D a, D b) { return _mm512_max_pd(a, b); }
  static D abs(D a) { return _mm512_andnot_pd(set(-0.0), a); }
  static D sign(D a) { return _mm512_and_pd(set(-0.0), a); }
  static D or_(D a, D b) { return _mm512_or_pd(a, b); }
  static D xor_(D a, D b) { return _mm512_xor_pd(a, b); }
  static D fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
  static D fms(D a, D b, D c) { return _mm512_fmsub_pd(a, b, c); }
  static D fnma(D a, D b, D c) { return _mm512_fnmadd_pd(a, b, c); }
  static D rint(D a) { return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }

  static M lt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static M le(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static M ge(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static M not_le(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLE_UQ); }
  static M isnan(D a) { return _mm512_cmp_pd_mask(a, a, _CMP_UNORD_Q); }
  static M mand(M a, M b) { return static_cast<M>(a & b); }
  static M mor(M a, M b) { return static_cast<M>(a | b); }
  static D select(M m, D a, D b) { return _mm512_mask_blend_pd(m, a, b); }
  static unsigned bits(M m) { return static_cast<unsigned>(m); }

  static M odd(D q) { return _mm512_test_epi64_mask(_mm512_castpd_si512(q), _mm512_set1_epi64(1)); }
  static D bit1_sign(D q) {
    const __m512i bit1 = _mm512_and_si512(_mm512_castpd_si512(q), _mm512_set1_epi64(2));
    return _mm512_castsi512_pd(_mm512_slli_epi64(bit1, 62));
  }
  static D shl52(D t) { return _mm512_castsi512_pd(_mm512_slli_epi64(_mm512_castpd_si512(t), 52)); }
  static void load_interleaved(const double *in, D &re, D &im) {
    const D a = _mm512_loadu_pd(in), b = _mm512_loadu_pd(in + 8);
    re = _mm512_permutex2var_pd(a, _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0), b);
    im = _mm512_permutex2var_pd(a, _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1), b);
  }
  static void store_interleaved(double *out, D re, D im) {
    const __m512i lo = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i hi = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    _mm512_storeu_pd(out, _mm512_permutex2var_pd(re, lo, im));
    _mm512_storeu_pd(out + 8, _mm512_permutex2var_pd(re, hi, im));
  }
  static void stream_interleaved(double *out, D re, D im) {  ///< out aligned to 64 bytes
    const __m512i lo = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
    const __m512i hi = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
    _mm512_stream_pd(out, _mm512_permutex2var_pd(re, lo, im));
    _mm512_stream_pd(out + 8, _mm512_permutex2var_pd(re, hi, im));
  }
};

}  // namespace
}  // namespace halvane::kernels
