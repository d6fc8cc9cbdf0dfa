// First-order IIR stages.
//
// The recursion is latency-bound, so the stage states live in registers: the
// chain is instantiated for one to four stages (more take a generic loop).
// Stages with real coefficients on finite complex samples run as two real
// recursions: the reference's complex products then only add exact zeros
// (0 * finite), so the results are the same, at half the latency. The first
// non-finite value hands the rest of the signal to the complex products,
// which spread NaN and infinity as the reference does.
#include "kernels/iir.hpp"
#include <array>
#include <cmath>
#include <vector>

namespace halvane::kernels {

namespace {

inline bool finite(cdouble v) { return std::isfinite(v.real()) && std::isfinite(v.imag()); }

/// Stage states: a fixed number in registers, or a vector.
template <std::size_t Count>
struct States {
  std::array<cdouble, Count> z{};
  static constexpr std::size_t size(std::size_t) { return Count; }
};
template <>
struct States<0> {
  explicit States(std::size_t n = 0) : z(n) {}
  std::vector<cdouble> z;
  std::size_t size(std::size_t n) const { return n; }
};

/// Samples k0.. of the chain with complex products, from states `st`.
template <std::size_t Count, typename S>
void complex_chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t k0,
                   std::size_t n, cdouble offset, const IirStage *stages, std::size_t count,
                   S &st) {
  const std::size_t m = st.size(count);
  for (std::size_t k = k0; k < n; ++k) {
    cdouble v = x[static_cast<std::ptrdiff_t>(k) * stride] - offset;
    for (std::size_t j = 0; j < m; ++j) {
      const IirStage &s = stages[j];
      const cdouble out = st.z[j] + cmul(s.b0, v);
      st.z[j] = cmul(s.b1, v) + cmul(s.a1, out);
      v = out;
    }
    y[k] = v + offset;
  }
}

/// Samples from 0 on as two real recursions while every value is finite;
/// returns the first sample it did not take.
template <std::size_t Count, typename S>
std::size_t real_chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n,
                       cdouble offset, const IirStage *stages, std::size_t count, S &st) {
  const std::size_t m = st.size(count);
  for (std::size_t k = 0; k < n; ++k) {
    const cdouble in = x[static_cast<std::ptrdiff_t>(k) * stride] - offset;
    if (!finite(in)) return k;
    double vr = in.real(), vi = in.imag();
    S next = st;
    for (std::size_t j = 0; j < m; ++j) {
      const double b0 = stages[j].b0.real(), b1 = stages[j].b1.real(), a1 = stages[j].a1.real();
      const double outr = next.z[j].real() + b0 * vr, outi = next.z[j].imag() + b0 * vi;
      next.z[j] = {b1 * vr + a1 * outr, b1 * vi + a1 * outi};
      vr = outr;
      vi = outi;
    }
    if (!std::isfinite(vr) || !std::isfinite(vi)) return k;
    st = next;
    y[k] = cdouble{vr, vi} + offset;
  }
  return n;
}

template <std::size_t Count>
void chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n, cdouble offset,
           const IirStage *stages, std::size_t count) {
  States<Count> st;
  if constexpr (Count == 0) st = States<0>(count);
  bool real = true;
  for (std::size_t j = 0; j < count; ++j)
    real = real && stages[j].b0.imag() == 0 && stages[j].b1.imag() == 0 && stages[j].a1.imag() == 0;
  std::size_t k = real ? real_chain<Count>(x, stride, y, n, offset, stages, count, st) : 0;
  complex_chain<Count>(x, stride, y, k, n, offset, stages, count, st);
}

void run_chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n, cdouble offset,
               const IirStage *stages, std::size_t count) {
  switch (count) {
    case 1: return chain<1>(x, stride, y, n, offset, stages, count);
    case 2: return chain<2>(x, stride, y, n, offset, stages, count);
    case 3: return chain<3>(x, stride, y, n, offset, stages, count);
    case 4: return chain<4>(x, stride, y, n, offset, stages, count);
    default: return chain<0>(x, stride, y, n, offset, stages, count);
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
  run_chain(x, stride, y, n, cdouble{}, &s, 1);
}

void iir_chain_about(cdouble *w, std::size_t n, cdouble offset, const IirStage *stages,
                     std::size_t count) {
  run_chain(w, 1, w, n, offset, stages, count);
}

}  // namespace halvane::kernels
