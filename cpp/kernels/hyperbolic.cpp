// The hyperbolic envelopes tanh and hyper.
//
// Both multiply values computed at every sample by complex masks; outside a
// mask the product is 0, or NaN where the value is NaN, and the kernels keep
// that NaN. A real epsilon takes the vectorised path with one transcendental
// per sample; a complex one the libm complex functions, sample by sample.
#include <math.h>

#include <cmath>
#include <limits>

#include "kernels/shapes_internal.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool has_nan(cdouble z) { return std::isnan(z.real()) || std::isnan(z.imag()); }

// The masks of the rising and the falling half, with boundary tolerance tol.
struct Halves {
  double pos, w, tol;
  bool rising(double u) const { return u >= tol && u - w / 2 < tol; }
  bool falling(double u) const { return u - w / 2 >= tol && u - w <= tol; }
};

// (amp * t) * (mask + 0j)
cdouble masked(cdouble amp, cdouble t, bool m) { return cmul(cmul(amp, t), {m ? 1.0 : 0.0, 0.0}); }

void tanh_real(const ShapeParams &p, double eps, const double *X, std::size_t n, cdouble *out) {
  const Halves hv{p.pos, p.width, 1e-10};
  const double tau = p.width / 2, e2 = 2 * eps;
  double arg[kBlock], a1[kBlock], a2[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t m = n - i0 < kBlock ? n - i0 : kBlock;
    const double *x = X + i0;
    for (std::size_t i = 0; i < m; ++i) {
      const double u = x[i] - p.pos;
      a1[i] = e2 * u / tau;
      a2[i] = e2 * (2 * tau - u) / tau;
      arg[i] = hv.rising(u) ? a1[i] : hv.falling(u) ? a2[i] : 0.0;
    }
    vmath::tanh(arg, m, arg);
    for (std::size_t i = 0; i < m; ++i) {
      const double u = x[i] - p.pos;
      const bool r = hv.rising(u), f = hv.falling(u);
      const double t1 = r ? arg[i] : std::isnan(a1[i]) ? kNaN : 0.0;
      const double t2 = f ? arg[i] : std::isnan(a2[i]) ? kNaN : 0.0;
      out[i0 + i] = masked(p.amp, {t1, 0.0}, r) + masked(p.amp, {t2, 0.0}, f);
    }
  }
}

void tanh_complex(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  const Halves hv{p.pos, p.width, 1e-10};
  const double tau = p.width / 2;
  const cdouble e2 = cmul({2.0, 0.0}, p.epsilon);
  for (std::size_t k = 0; k < n; ++k) {
    const double u = X[k] - p.pos;
    const cdouble t1 = std::tanh(cdiv(cmul(e2, {u, 0.0}), {tau, 0.0}));
    const cdouble t2 = std::tanh(cdiv(cmul(e2, {2 * tau - u, 0.0}), {tau, 0.0}));
    out[k] = masked(p.amp, t1, hv.rising(u)) + masked(p.amp, t2, hv.falling(u));
  }
}

// numpy's complex maximum: ordered by real part, then imaginary part; the
// first NaN met wins.
cdouble numpy_max(const cdouble *y, std::size_t n) {
  cdouble acc = y[0];
  for (std::size_t k = 1; k < n; ++k) {
    const double ar = acc.real(), ai = acc.imag(), br = y[k].real(), bi = y[k].imag();
    const bool ge = (ar > br && !std::isnan(ai) && !std::isnan(bi)) || (ar == br && ai >= bi);
    if (!(std::isnan(ar) || std::isnan(ai) || ge)) acc = y[k];
  }
  return acc;
}

// y = h * (rising + 0j) + h * (falling + 0j), except that a sample outside
// both halves is 0 even where cosh overflowed there (h = -inf): the masked
// product would be NaN, and the normalisation would spread that NaN over
// the whole pulse, for no sample the pulse covers. A NaN h stays NaN.
cdouble halves_sum(cdouble h, bool r, bool f) {
  if (!r && !f && !has_nan(h)) return {0.0, 0.0};
  return cmul(h, {r ? 1.0 : 0.0, 0.0}) + cmul(h, {f ? 1.0 : 0.0, 0.0});
}

void hyper_real(const ShapeParams &p, double eps, const double *X, std::size_t n, cdouble *out) {
  const Halves hv{p.pos, p.width, 1e-20};
  const double c0 = ::cosh(eps / 2);
  double v[kBlock], c[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t m = n - i0 < kBlock ? n - i0 : kBlock;
    const double *x = X + i0;
    for (std::size_t i = 0; i < m; ++i) {
      const double u = x[i] - p.pos;
      v[i] = eps * (u / p.width - 0.5);
      c[i] = hv.rising(u) || hv.falling(u) ? v[i] : 0.0;
    }
    vmath::cosh(c, m, c);
    for (std::size_t i = 0; i < m; ++i) {
      const double u = x[i] - p.pos;
      const bool r = hv.rising(u), f = hv.falling(u);
      // Outside both halves only the NaN-ness of h matters: NaN when v is,
      // or when cosh(eps/2) is not finite (then cosh(v) overflows too).
      const double h = r || f ? c0 - c[i] : std::isnan(v[i]) || !std::isfinite(c0) ? kNaN : 0.0;
      out[i0 + i] = halves_sum({h, 0.0}, r, f);
    }
  }
}

void hyper_complex(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  const Halves hv{p.pos, p.width, 1e-20};
  const cdouble c0 = std::cosh(cdiv(p.epsilon, {2.0, 0.0}));
  for (std::size_t k = 0; k < n; ++k) {
    const double u = X[k] - p.pos;
    const cdouble h = c0 - std::cosh(cmul(p.epsilon, {u / p.width - 0.5, 0.0}));
    out[k] = halves_sum(h, hv.rising(u), hv.falling(u));
  }
}

}  // namespace

void tanh_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  if (p.epsilon.imag() == 0) return tanh_real(p, p.epsilon.real(), X, n, out);
  tanh_complex(p, X, n, out);
}

void hyper_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out) {
  if (n == 0) return;
  if (p.epsilon.imag() == 0)
    hyper_real(p, p.epsilon.real(), X, n, out);
  else
    hyper_complex(p, X, n, out);
  // y /= max(y); return amp * y
  const cdouble peak = numpy_max(out, n);
  for (std::size_t k = 0; k < n; ++k) out[k] = cmul(p.amp, cdiv(out[k], peak));
}

}  // namespace halvane::kernels::detail
