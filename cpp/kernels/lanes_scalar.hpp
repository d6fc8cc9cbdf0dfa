// One double lane, for the shape loops on CPUs without AVX2; sin, cos, tanh,
// cosh and exp come from libm. Include only from simd_baseline.cpp.
#pragma once
#include <math.h>

namespace halvane::kernels {
namespace {

struct Scalar {
  using D = double;
  using M = bool;
  static constexpr int W = 1;

  static D load(const double *p) { return *p; }
  static void store(double *p, D v) { *p = v; }
  static void stream(double *p, D v) { *p = v; }  ///< a plain store: one lane cannot fill a line
  static D set(double v) { return v; }
  static D add(D a, D b) { return a + b; }
  static D sub(D a, D b) { return a - b; }
  static D mul(D a, D b) { return a * b; }
  static D div(D a, D b) { return a / b; }
  static D neg(D a) { return -a; }
  static D abs(D a) { return __builtin_fabs(a); }
  static D max(D a, D b) { return a > b ? a : b; }
  static M lt(D a, D b) { return a < b; }
  static M le(D a, D b) { return a <= b; }
  static M ge(D a, D b) { return a >= b; }
  static M isnan(D a) { return __builtin_isnan(a); }
  static M mand(M a, M b) { return a && b; }
  static M mor(M a, M b) { return a || b; }
  static D select(M m, D a, D b) { return m ? b : a; }
  static unsigned bits(M m) { return m; }
  static void load_interleaved(const double *in, D &re, D &im) {
    re = in[0];
    im = in[1];
  }
  static void store_interleaved(double *out, D re, D im) {
    out[0] = re;
    out[1] = im;
  }
  static void stream_interleaved(double *out, D re, D im) { store_interleaved(out, re, im); }
};

struct LibmMath {
  static double sin(double x) { return ::sin(x); }
  static double cos(double x) { return ::cos(x); }
  static void cos_pair(double x1, double x2, double &c1, double &c2) {
    c1 = ::cos(x1);
    c2 = ::cos(x2);
  }
  static double tanh(double x) { return ::tanh(x); }
  static double cosh(double x) { return ::cosh(x); }
  static double exp(double x) { return ::exp(x); }
};

}  // namespace
}  // namespace halvane::kernels
