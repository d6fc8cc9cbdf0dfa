// Run-time choice of the vector path, and the libm loops of baseline CPUs.
#include "kernels/vmath.hpp"

#include <math.h>

#include <atomic>
#if HALVANE_X86_64 && defined(_MSC_VER)
#include <intrin.h>
#endif

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

#if HALVANE_X86_64 && defined(_MSC_VER)
// MSVC and clang-cl: cpuid by hand. Leaf 1 ECX: FMA (bit 12), OSXSAVE (27),
// AVX (28); leaf 7 EBX: AVX2 (5), AVX-512 F (16), DQ (17), VL (31); XCR0
// says whether the system saves the YMM (bits 1-2) and ZMM (5-7) registers.
Isa detect() {
  int r[4];
  __cpuid(r, 0);
  if (r[0] < 7) return Isa::scalar;
  __cpuid(r, 1);
  const auto ecx = static_cast<unsigned>(r[2]);
  if (!(ecx >> 12 & 1) || !(ecx >> 27 & 1) || !(ecx >> 28 & 1)) return Isa::scalar;
  const unsigned long long xcr0 = _xgetbv(0);
  if ((xcr0 & 0x6) != 0x6) return Isa::scalar;
  __cpuidex(r, 7, 0);
  const auto ebx = static_cast<unsigned>(r[1]);
  if ((ebx >> 16 & 1) && (ebx >> 17 & 1) && (ebx >> 31 & 1) && (xcr0 & 0xe6) == 0xe6) return Isa::avx512;
  return (ebx >> 5 & 1) ? Isa::avx2 : Isa::scalar;
}
#elif HALVANE_X86_64
Isa detect() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl"))
    return Isa::avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Isa::avx2;
  return Isa::scalar;
}
#else
Isa detect() { return Isa::scalar; }  // the vector paths are x86-64's
#endif

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
#if HALVANE_X86_64
  if (isa == Isa::avx512) return detail::avx512_functions;
  if (isa == Isa::avx2) return detail::avx2_functions;
#else
  (void)isa;  // only the scalar path exists
#endif
  return scalar_functions;
}

void sin(const double *x, std::size_t n, double *out) { active().sin(x, n, out); }
void cos(const double *x, std::size_t n, double *out) { active().cos(x, n, out); }
void cis(const double *x, std::size_t n, std::complex<double> *out) { active().cis(x, n, out); }
void exp(const double *x, std::size_t n, double *out) { active().exp(x, n, out); }
void cosh(const double *x, std::size_t n, double *out) { active().cosh(x, n, out); }
void tanh(const double *x, std::size_t n, double *out) { active().tanh(x, n, out); }

}  // namespace halvane::kernels::vmath
