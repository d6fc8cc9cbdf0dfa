// The response of a line's IIR stages to a short input, added to the line.
//
// A sweep changes a few pulses of a filtered line; the stages are linear
// and time-invariant, so the line is its samples at rest plus the stages'
// response to what changed, which is a short input followed by zeros. Past
// the input the response is the chain's free response from its state, a
// linear function of that state: it is computed in blocks of L samples from
// two small tables made by the chain itself (the output at each step of a
// block, and the state after a block, from each unit state), so that every
// sample costs a few multiply-adds instead of a recursion's latency. The
// tables hold no more than L roundings each, and the state steps once per
// block, so the response stays within a few units in the last place of its
// magnitude of the sample-by-sample chain. A state below 2^-900, or below
// the `negligible` that the caller gives, is dropped (see iir_response.cpp),
// so that the tail never computes with subnormals; added in place, the
// response ends where all the states have been dropped.
#pragma once
#include <cstddef>
#include "kernels/cplx.hpp"
#include "kernels/iir.hpp"

namespace halvane::kernels {

/// out[k] = rest[k] + y[k] for k in [0, n), where y is the response from
/// rest of `count` stages to x[0..m) followed by n - m zeros (m <= n). out
/// is rest (the response added in place) or does not overlap it. States
/// that are not finite take the chain sample by sample, which spreads NaN
/// and infinity as it does.
void iir_add_response(const IirStage *stages, std::size_t count, const cdouble *x, std::size_t m,
                      const cdouble *rest, cdouble *out, std::size_t n, double negligible = 0);

}  // namespace halvane::kernels
