// The FIR stage: taps convolved with a signal that starts at a given sample.
#pragma once
#include <complex>
#include <cstddef>

namespace halvane::kernels {

/// out[j] = sum over k = 0..j of taps[k] * src[at(first + j - k)], summed
/// from k = 0 upward, for j in [0, count); at(i) resolves a negative index
/// from the end (i + len), as numpy indexing does. The caller guarantees
/// that every index first .. first + count - 1 resolves inside [0, len).
void fir_window(const double *src, std::ptrdiff_t len, std::ptrdiff_t first, std::size_t count,
                const double *taps, double *out);

/// The same for complex samples and taps (textbook complex products).
void fir_window(const std::complex<double> *src, std::ptrdiff_t len, std::ptrdiff_t first,
                std::size_t count, const std::complex<double> *taps, std::complex<double> *out);

}  // namespace halvane::kernels
