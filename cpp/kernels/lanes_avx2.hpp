// Four double lanes on AVX2 with FMA, for the vector algorithms
// (vmath_simd.hpp, shape_loops.hpp). Include only from simd_avx2.cpp: the
// unnamed namespace keeps every function local to that file.
#pragma once
#include <immintrin.h>

namespace halvane::kernels {
namespace {

struct Avx2 {
  using D = __m256d;
  using M = __m256d;
  static constexpr int W = 4;

  static D load(const double *p) { return _mm256_loadu_pd(p); }
  static void store(double *p, D v) { _mm256_storeu_pd(p, v); }
  static void stream(double *p, D v) { _mm256_stream_pd(p, v); }
  static D set(double v) { return _mm256_set1_pd(v); }
  static D add(D a, D b) { return _mm256_add_pd(a, b); }
  static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
  static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
  static D div(D a, D b) { return _mm256_div_pd(a, b); }
  static D neg(D a) { return _mm256_xor_pd(a, set(-0.0)); }
  static D min(D a, D b) { return _mm256_min_pd(a, b); }
  static D max(D a, D b) { return _mm256_max_pd(a, b); }
  static D abs(D a) { return _mm256_andnot_pd(set(-0.0), a); }
  static D sign(D a) { return _mm256_and_pd(set(-0.0), a); }
  static D or_(D a, D b) { return _mm256_or_pd(a, b); }
  static D xor_(D a, D b) { return _mm256_xor_pd(a, b); }
  static D fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
  static D fms(D a, D b, D c) { return _mm256_fmsub_pd(a, b, c); }
  static D fnma(D a, D b, D c) { return _mm256_fnmadd_pd(a, b, c); }
  static D rint(D a) { return _mm256_round_pd(a, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }

  static M lt(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static M le(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M ge(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M not_le(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_NLE_UQ); }
  static M isnan(D a) { return _mm256_cmp_pd(a, a, _CMP_UNORD_Q); }
  static M mand(M a, M b) { return _mm256_and_pd(a, b); }
  static M mor(M a, M b) { return _mm256_or_pd(a, b); }
  static D select(M m, D a, D b) { return _mm256_blendv_pd(a, b, m); }
  static unsigned bits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }

  // Lanes whose integer q (plus kShifter) is odd: bit 0 moved to the sign,
  // which is what blendv and movemask read.
  static M odd(D q) { return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(q), 63)); }
  static D bit1_sign(D q) {
    const __m256i bit1 = _mm256_and_si256(_mm256_castpd_si256(q), _mm256_set1_epi64x(2));
    return _mm256_castsi256_pd(_mm256_slli_epi64(bit1, 62));
  }
  static D shl52(D t) { return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(t), 52)); }
  static void load_interleaved(const double *in, D &re, D &im) {
    const D a = _mm256_loadu_pd(in), b = _mm256_loadu_pd(in + 4);
    const D lo = _mm256_permute2f128_pd(a, b, 0x20), hi = _mm256_permute2f128_pd(a, b, 0x31);
    re = _mm256_unpacklo_pd(lo, hi);
    im = _mm256_unpackhi_pd(lo, hi);
  }
  static void store_interleaved(double *out, D re, D im) {
    const D lo = _mm256_unpacklo_pd(re, im), hi = _mm256_unpackhi_pd(re, im);
    _mm256_storeu_pd(out, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(out + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
  static void stream_interleaved(double *out, D re, D im) {  ///< out aligned to 32 bytes
    const D lo = _mm256_unpacklo_pd(re, im), hi = _mm256_unpackhi_pd(re, im);
    _mm256_stream_pd(out, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_stream_pd(out + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
  }
};

}  // namespace
}  // namespace halvane::kernels
