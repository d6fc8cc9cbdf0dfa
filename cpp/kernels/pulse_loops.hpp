// The per-sample loops of a pulse's envelope (DRAG, rotation) and of its
// addition into the line, one table per instruction set
// (pulse_loops_simd.hpp), chosen at run time like vmath's.
#pragma once
#include <cstddef>

#include "kernels/cplx.hpp"

namespace halvane::kernels::detail {

struct PulseLoops {
  /// sh += 1j * g * srate * d
  void (*drag_sum)(cdouble *sh, const cdouble *g, std::size_t n, double srate, cdouble d);
  /// sh = K * sh * c
  void (*rotate)(cdouble *sh, const cdouble *c, std::size_t n, cdouble K);
  /// W += sh * cr
  void (*add_product)(cdouble *W, const cdouble *sh, const cdouble *cr, std::size_t n);
  /// S += sh
  void (*add)(cdouble *S, const cdouble *sh, std::size_t n);
};

extern const PulseLoops baseline_pulse_loops;  // simd_baseline.cpp
extern const PulseLoops avx2_pulse_loops;      // simd_avx2.cpp
extern const PulseLoops avx512_pulse_loops;    // simd_avx512.cpp

/// The loops for this CPU (the same choice as vmath's).
const PulseLoops &pulse_loops();

}  // namespace halvane::kernels::detail
