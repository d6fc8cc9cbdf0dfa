// Real numbers from numpy arrays and array-likes, as contiguous doubles,
// and fresh arrays for results.
//
// A one-dimensional C-contiguous float64 array (the sampling driver's slices
// of its grid) is read in place. Anything else that numpy turns into a real
// array (other dtypes, strided views, lists, scalars) is converted once with
// numpy.ascontiguousarray(x, dtype=float64); complex or non-numeric data is
// a TypeError rather than a silent cast.
#pragma once
#include <complex>
#include <cstddef>
#include "py/errors.hpp"

namespace halvane::py {

struct Reals {
  nb::object array;    ///< owns the data: x itself, or numpy's float64 copy of it
  const double *data;  ///< size contiguous doubles
  std::size_t size;
  nb::object shape;    ///< x's shape when it is not one-dimensional, else empty
};

/// The numbers of `x`, whatever its shape; results of the same shape can be
/// made with shaped().
Reals reals(nb::handle x);

/// Sample times: reals(X), which must be one-dimensional (ValueError else).
Reals sample_times(nb::handle X);

/// Run `kernel` on n samples, without the GIL when there are enough of them
/// to pay for the switch. The kernel must touch no Python object; the
/// arrays it reads and writes are kept alive by their owners.
template <typename F>
void run_kernel(std::size_t n, F &&kernel) {
  if (n >= 4096) {
    nb::gil_scoped_release nogil;
    kernel();
  } else {
    kernel();
  }
}

/// A new complex128 array of n elements; `data` gets its buffer, and
/// `cold`, when given, whether that memory is out of the caches (a block
/// the buffer cache held), for the kernels' choice of stores.
nb::object new_complex(std::size_t n, std::complex<double> *&data, bool *cold = nullptr);

/// A new float64 array of r.size elements shaped like r; `data` gets its buffer.
nb::object new_reals_like(const Reals &r, double *&data);

/// A new bool array of r.size elements shaped like r; `data` gets its buffer.
nb::object new_bools_like(const Reals &r, bool *&data);

}  // namespace halvane::py
