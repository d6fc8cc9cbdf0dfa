// Output arrays that the caller hands in (`out=`) to be written in place.
#pragma once
#include "py/ndarrays.hpp"

namespace halvane::py {

/// Check that `buf` can take n complex samples in place and view it.
/// TypeError unless it is a complex128 numpy array; ValueError unless it is
/// writeable, one-dimensional, contiguous and of exactly n elements. Each
/// message names the argument as `what` ("out", "out['q0'][1]", ...) and
/// says what it needs.
ArrayView out_array(nb::handle buf, Py_ssize_t n, nb::handle what);

}  // namespace halvane::py
