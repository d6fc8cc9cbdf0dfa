// First-order IIR stages.
//
// The recursion is latency-bound, so a pass runs up to four stages per
// sample with their states in registers (more stages take further passes,
// which gives the same numbers: each stage sees the same input sequence).
// Stages with real coefficients on finite complex samples run as two real
// recursions: the reference's complex products then only add exact zeros
// (0 * finite), so the results are the same, at less latency. The first
// non-finite value hands the rest of the signal to the complex products,
// which spread NaN and infinity as the reference does.
#include "kernels/iir.hpp"
#include <algorithm>
#include <cmath>

namespace halvane::kernels {

namespace {

constexpr std::size_t max_pass = 4;

/// One pass: y[k] = stages(x[k] - in_off) + out_off for k in [k0, n), states z.
struct Pass {
  const IirStage *stages;
  cdouble in_off, out_off;
};

template <std::size_t Count>
void complex_pass(const Pass &p, const cdouble *x, std::ptrdiff_t stride, cdouble *y,
                  std::size_t k0, std::size_t n, cdouble *z) {
  for (std::size_t k = k0; k < n; ++k) {
    cdouble v = x[static_cast<std::ptrdiff_t>(k) * stride] - p.in_off;
    for (std::size_t j = 0; j < Count; ++j) {
      const IirStage &s = p.stages[j];
      const cdouble out = z[j] + cmul(s.b0, v);
      z[j] = cmul(s.b1, v) + cmul(s.a1, out);
      v = out;
    }
    y[k] = v + p.out_off;
  }
}

/// The pass as real recursions from sample 0 while every value is finite;
/// returns the first sample it did not take, with z as before that sample.
template <std::size_t Count>
std::size_t real_pass(const Pass &p, const cdouble *x, std::ptrdiff_t stride, cdouble *y,
                      std::size_t n, cdouble *z) {
  double b0[Count], b1[Count], a1[Count], zr[Count], zi[Count];
  for (std::size_t j = 0; j < Count; ++j) {
    b0[j] = p.stages[j].b0.real();
    b1[j] = p.stages[j].b1.real();
    a1[j] = p.stages[j].a1.real();
    zr[j] = z[j].real();
    zi[j] = z[j].imag();
  }
  std::size_t k = 0;
  for (; k < n; ++k) {
    const cdouble in = x[static_cast<std::ptrdiff_t>(k) * stride] - p.in_off;
    double vr = in.real(), vi = in.imag();
    bool ok = std::isfinite(vr) & std::isfinite(vi);
    double nzr[Count], nzi[Count];
    for (std::size_t j = 0; j < Count; ++j) {
      const double outr = zr[j] + b0[j] * vr, outi = zi[j] + b0[j] * vi;
      nzr[j] = b1[j] * vr + a1[j] * outr;
      nzi[j] = b1[j] * vi + a1[j] * outi;
      vr = outr;
      vi = outi;
    }
    ok &= std::isfinite(vr) & std::isfinite(vi);
    if (!ok) break;
    for (std::size_t j = 0; j < Count; ++j) {
      zr[j] = nzr[j];
      zi[j] = nzi[j];
    }
    y[k] = cdouble{vr, vi} + p.out_off;
  }
  for (std::size_t j = 0; j < Count; ++j) z[j] = {zr[j], zi[j]};
  return k;
}

template <std::size_t Count>
void run_pass(const Pass &p, const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n) {
  cdouble z[Count] = {};
  bool real = true;
  for (std::size_t j = 0; j < Count; ++j)
    real = real && p.stages[j].b0.imag() == 0 && p.stages[j].b1.imag() == 0 &&
           p.stages[j].a1.imag() == 0;
  const std::size_t k = real ? real_pass<Count>(p, x, stride, y, n, z) : 0;
  complex_pass<Count>(p, x, stride, y, k, n, z);
}

void chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n, cdouble offset,
           const IirStage *stages, std::size_t count) {
  if (count == 0) {  // still (w - offset) + offset, sample by sample
    for (std::size_t k = 0; k < n; ++k) y[k] = (x[static_cast<std::ptrdiff_t>(k) * stride] - offset) + offset;
    return;
  }
  for (std::size_t first = 0; first < count; first += max_pass) {
    const std::size_t m = std::min(max_pass, count - first);
    const Pass p{stages + first, first == 0 ? offset : cdouble{},
                 first + m == count ? offset : cdouble{}};
    switch (m) {
      case 1: run_pass<1>(p, x, stride, y, n); break;
      case 2: run_pass<2>(p, x, stride, y, n); break;
      case 3: run_pass<3>(p, x, stride, y, n); break;
      default: run_pass<4>(p, x, stride, y, n); break;
    }
    x = y;  // later passes work in place on the output
    stride = 1;
  }
}

}  // namespace

void iir_filter(const IirStage &s, const double *x, std::ptrdiff_t stride, std::size_t n,
                double *y) {
  const double b0 = s.b0.real(), b1 = s.b1.real(), a1 = s.a1.real();
  double z = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const double xk = x[static_cast<std::ptrdiff_t>(k) * stride];
    const double yk = z + b0 * xk;
    z = b1 * xk + a1 * yk;
    y[k] = yk;
  }
}

void iir_filter(const IirStage &s, const cdouble *x, std::ptrdiff_t stride, std::size_t n,
                cdouble *y) {
  chain(x, stride, y, n, cdouble{}, &s, 1);
}

void iir_chain_about(cdouble *w, std::size_t n, cdouble offset, const IirStage *stages,
                     std::size_t count) {
  chain(w, 1, w, n, offset, stages, count);
}

}  // namespace halvane::kernels
