// Vectorised sin, cos, exp and friends over arrays of doubles.
//
// Scalar libm costs 20-26 ns per sin/cos, so a shape that called it per
// sample would be slower than the numpy formula it replaces. These run
// 4 or 8 lanes at a time (AVX2+FMA or AVX-512), chosen at run time by the
// CPU; a baseline x86-64 CPU, and any other CPU, gets plain libm loops. The shape loops
// (shape_loops.hpp) use the same algorithms lane by lane and follow the
// same choice.
//
// Accuracy: within an ulp (1.2e-16 absolute on results of magnitude 1) for
// every finite argument. sin and cos reduce their argument by pi/2 carried
// in three doubles with fused multiply-adds, which stays good to far below
// an ulp up to |x| = 2^40 (carrier phases 2*pi*f*t reach 1e8 rad and more);
// beyond that, and for infinities and NaN, the lane is handed to libm.
// Likewise exp and cosh beyond |x| = 708.
//
// All functions accept n = 0 and may work in place (out == x).
#pragma once
#include <complex>
#include <cstddef>

namespace halvane::kernels::vmath {

void sin(const double *x, std::size_t n, double *out);
void cos(const double *x, std::size_t n, double *out);
/// out[k] = exp(i x[k]) = cos x[k] + i sin x[k].
void cis(const double *x, std::size_t n, std::complex<double> *out);
void exp(const double *x, std::size_t n, double *out);
void cosh(const double *x, std::size_t n, double *out);
void tanh(const double *x, std::size_t n, double *out);

/// The code paths.
enum class Isa { scalar, avx2, avx512 };

struct Functions {
  void (*sin)(const double *, std::size_t, double *);
  void (*cos)(const double *, std::size_t, double *);
  void (*cis)(const double *, std::size_t, std::complex<double> *);
  void (*exp)(const double *, std::size_t, double *);
  void (*cosh)(const double *, std::size_t, double *);
  void (*tanh)(const double *, std::size_t, double *);
};

/// Whether this CPU can run `isa`.
bool supported(Isa isa);
/// The path that the functions above and the shape loops take: the widest
/// one supported, unless use_isa() chose another.
Isa active_isa();
/// For tests and benchmarks that hold the paths against each other: take
/// `isa` (which must be supported) from now on, in the whole process.
void use_isa(Isa isa);
/// The table of one path (supported(isa) must hold).
const Functions &functions(Isa isa);

/// Of a table built once per path, the build for the active path.
template <class T>
const T &for_active_isa(const T &avx512, const T &avx2, const T &scalar) {
  switch (active_isa()) {
    case Isa::avx512: return avx512;
    case Isa::avx2: return avx2;
    case Isa::scalar: break;
  }
  return scalar;
}

/// The tables built for the x86-64 vector paths exist only on x86-64
/// (HALVANE_X86_64, set by the build); elsewhere only the scalar one is
/// named, and so linked.
#if HALVANE_X86_64
#define HALVANE_ACTIVE_TABLE(avx512, avx2, scalar) \
  ::halvane::kernels::vmath::for_active_isa(avx512, avx2, scalar)
#else
#define HALVANE_ACTIVE_TABLE(avx512, avx2, scalar) (scalar)
#endif

namespace detail {
extern const Functions avx2_functions;    // simd_avx2.cpp
extern const Functions avx512_functions;  // simd_avx512.cpp
}  // namespace detail

}  // namespace halvane::kernels::vmath
