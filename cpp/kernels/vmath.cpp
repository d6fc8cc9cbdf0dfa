// Run-time choice of the vector path, and the libm loops of baseline CPUs.
#include "kernels/vmath.hpp"

#include <math.h>

#include <atomic>

namespace halvane::kernels::vmath {
namespace {

void sin_libm(const double *x, std::size_t n, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = ::sin(x[k]);
}
void cos_libm(const double *x, std::size_t n, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = ::cos(x[k]);
}
void cis_libm(const double *x, std::size_t n, std::complex<double> *out) {
  for (std::size_t k = 0; k < n; ++k) {
    const double v = x[k];
    out[k] = {::cos(v), ::sin(v)};
  }
}
void exp_libm(const double *x, std::size_t n, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = ::exp(x[k]);
}
void cosh_libm(const double *x, std::size_t n, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = ::cosh(x[k]);
}
void tanh_libm(const double *x, std::size_t n, double *out) {
  for (std::size_t k = 0; k < n; ++k) out[k] = ::tanh(x[k]);
}

const Functions scalar_functions{sin_libm, cos_libm, cis_libm, exp_libm, cosh_libm, tanh_libm};

Isa detect() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl"))
    return Isa::avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Isa::avx2;
  return Isa::scalar;
}

Isa widest() {
  static const Isa isa = detect();
  return isa;
}

// The path in use; use_isa() may change it.
std::atomic<Isa> chosen{widest()};

const Functions &active() { return functions(chosen.load(std::memory_order_relaxed)); }

}  // namespace

bool supported(Isa isa) {
  switch (isa) {
    case Isa::avx512: return widest() == Isa::avx512;
    case Isa::avx2: return widest() != Isa::scalar;
    case Isa::scalar: return true;
  }
  return false;
}

Isa active_isa() { return chosen.load(std::memory_order_relaxed); }

void use_isa(Isa isa) { chosen.store(isa, std::memory_order_relaxed); }

const Functions &functions(Isa isa) {
  switch (isa) {
    case Isa::avx512: return detail::avx512_functions;
    case Isa::avx2: return detail::avx2_functions;
    case Isa::scalar: break;
  }
  return scalar_functions;
}

void sin(const double *x, std::size_t n, double *out) { active().sin(x, n, out); }
void cos(const double *x, std::size_t n, double *out) { active().cos(x, n, out); }
void cis(const double *x, std::size_t n, std::complex<double> *out) { active().cis(x, n, out); }
void exp(const double *x, std::size_t n, double *out) { active().exp(x, n, out); }
void cosh(const double *x, std::size_t n, double *out) { active().cosh(x, n, out); }
void tanh(const double *x, std::size_t n, double *out) { active().tanh(x, n, out); }

}  // namespace halvane::kernels::vmath
