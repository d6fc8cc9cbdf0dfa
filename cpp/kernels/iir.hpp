// First-order IIR stages y[n] = b0*x[n] + b1*x[n-1] + a1*y[n-1], from rest.
//
// Each stage runs as a transposed direct form with one state z:
// y = z + b0*x, then z = b1*x + a1*y, the order of operations of the
// reference filter it replaces (scipy's lfilter with b = [b0, b1],
// a = [1, -a1]), so results agree to rounding. Complex samples always use
// complex coefficients and the textbook complex product, so NaN and infinity
// spread as they do there.
#pragma once
#include <cstddef>
#include "kernels/cplx.hpp"

namespace halvane::kernels {

/// The coefficients of one stage; real stages have zero imaginary parts.
struct IirStage {
  cdouble b0, b1, a1;
};

/// y[k] = stage(x)[k] for real samples and real coefficients (the real parts);
/// x is read with a stride in elements, y is contiguous.
void iir_filter(const IirStage &s, const double *x, std::ptrdiff_t stride, std::size_t n,
                double *y);

/// The same for complex samples.
void iir_filter(const IirStage &s, const cdouble *x, std::ptrdiff_t stride, std::size_t n, cdouble *y);

/// y[k] = chain(x)[k] for k in [0, n), sample by sample in the reference's
/// order of complex products, from the states z (one per stage, updated).
void iir_chain_exact(const IirStage *stages, std::size_t count, const cdouble *x, cdouble *y, std::size_t n,
                     cdouble *z);

/// w[k] = chain(w - offset)[k] + offset in place: the stages one after the
/// other on the deviation from `offset`, in one pass over w. No stages still
/// rounds each sample through (w - offset) + offset.
void iir_chain_about(cdouble *w, std::size_t n, cdouble offset, const IirStage *stages,
                     std::size_t count);

}  // namespace halvane::kernels
