// numpy's complex product on lanes, for the loops written over a lane type V
// (shape_loops.hpp, pulse_loops_simd.hpp). Include only from the simd_*.cpp
// files, for the reason given in vmath_simd.hpp.
#pragma once

namespace halvane::kernels {
namespace {

/// (ar + i ai)(br + i bi) = r + i i, each part rounded as numpy rounds it:
/// separate products and sums, never fused.
template <class V>
void cmul(typename V::D ar, typename V::D ai, typename V::D br, typename V::D bi, typename V::D &r,
          typename V::D &i) {
  r = V::sub(V::mul(ar, br), V::mul(ai, bi));
  i = V::add(V::mul(ar, bi), V::mul(ai, br));
}

}  // namespace
}  // namespace halvane::kernels
