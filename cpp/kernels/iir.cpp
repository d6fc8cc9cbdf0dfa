// First-order IIR stages.
#include "kernels/iir.hpp"
#include <vector>

namespace halvane::kernels {

namespace {

struct State {
  cdouble z{};
  cdouble step(const IirStage &s, cdouble x) {
    cdouble y = z + cmul(s.b0, x);
    z = cmul(s.b1, x) + cmul(s.a1, y);
    return y;
  }
};

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

void iir_filter(const IirStage &s, const cdouble *x, std::ptrdiff_t stride, std::size_t n, cdouble *y) {
  State st;
  for (std::size_t k = 0; k < n; ++k) y[k] = st.step(s, x[static_cast<std::ptrdiff_t>(k) * stride]);
}

void iir_chain_about(cdouble *w, std::size_t n, cdouble offset, const IirStage *stages,
                     std::size_t count) {
  std::vector<State> st(count);
  for (std::size_t k = 0; k < n; ++k) {
    cdouble v = w[k] - offset;
    for (std::size_t j = 0; j < count; ++j) v = st[j].step(stages[j], v);
    w[k] = v + offset;
  }
}

}  // namespace halvane::kernels
