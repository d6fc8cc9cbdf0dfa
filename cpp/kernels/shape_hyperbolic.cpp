// The hyperbolic envelopes tanh and hyper.
//
// Both multiply values computed at every sample by complex masks; outside a
// mask the product is 0, or NaN where the value is NaN, and the kernels keep
// that NaN. A real epsilon takes the vectorised loops of shape_loops.hpp,
// with one transcendental per sample; a complex one the libm complex
// functions here, sample by sample.
#include <math.h>

#include <cmath>

#include "kernels/shapes_internal.hpp"

namespace halvane::kernels::detail {
namespace {

bool has_nan(cdouble z) { return std::isnan(z.real()) || std::isnan(z.imag()); }

// The masks of the rising and the falling half, with boundary tolerance tol.
struct Halves {
  double pos, w, tol;
  bool rising(double u) const { return u >= tol && u - w / 2 < tol; }
  bool falling(double u) const { return u - w / 2 >= tol && u - w <= tol; }
};

// (amp * t) * (mask + 0j)
cdouble masked(cdouble amp, cdouble t, bool m) { return cmul(cmul(amp, t), {m ? 1.0 : 0.0, 0.0}); }

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
// the whole pulse, for no sample the pulse covers; on a long grid that
// happens some 700 / epsilon widths from the pulse. A NaN h stays NaN. The
// vectorised loop for a real epsilon follows the same rule.
cdouble halves_sum(cdouble h, bool r, bool f) {
  if (!r && !f && !has_nan(h)) return {0.0, 0.0};
  return cmul(h, {r ? 1.0 : 0.0, 0.0}) + cmul(h, {f ? 1.0 : 0.0, 0.0});
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

void tanh_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool cold) {
  if (p.epsilon.imag() == 0) return loops().tanh(p, p.epsilon.real(), X, n, out, cold);
  tanh_complex(p, X, n, out);
}

// Reads its samples back to normalise them, so never streamed: `cold` is
// not used.
void hyper_envelope(const ShapeParams &p, const double *X, std::size_t n, cdouble *out, bool) {
  if (n == 0) return;
  cdouble peak;
  if (p.epsilon.imag() == 0) {
    peak = {loops().hyper(p, p.epsilon.real(), ::cosh(p.epsilon.real() / 2), X, n, out), 0.0};
  } else {
    hyper_complex(p, X, n, out);
    peak = numpy_max(out, n);
  }
  // y /= max(y); return amp * y
  loops().scale(p.amp, CDivisor(peak), n, out);
}

}  // namespace halvane::kernels::detail
