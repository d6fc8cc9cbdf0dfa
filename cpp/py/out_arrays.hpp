// Output arrays that the caller hands in (`out=`) to be written in place.
#pragma once
#include <optional>
#include <utility>
#include <vector>
#include "py/ndarrays.hpp"

namespace halvane::py {

/// Check that `buf` can take n complex samples in place and view it.
/// TypeError unless it is a complex128 numpy array; ValueError unless it is
/// writeable, one-dimensional, contiguous and of exactly n elements. Each
/// message names the argument as `what` ("out", "out['q0'][1]", ...) and
/// says what it needs.
ArrayView out_array(nb::handle buf, Py_ssize_t n, nb::handle what);

/// TypeError unless `out` (not None) is a mapping of line names to pairs.
void check_out_mapping(nb::handle out);

/// out[name] as the pair (W, S), or nothing when out is None or lacks it;
/// ValueError when it is not a pair.
std::optional<std::pair<nb::object, nb::object>> out_pair(nb::handle out, nb::handle name);

/// out_array() of W and S for line `name`, and ValueError if they are one array.
void check_out_pair(nb::handle W, nb::handle S, Py_ssize_t n, nb::handle name);

/// Bytes [lo, hi) of an out buffer of line number `line`.
struct OutSpan {
  const char *lo, *hi;
  std::size_t line;
};

/// ValueError naming two lines (`names` is a list) whose buffers share memory.
void check_disjoint(std::vector<OutSpan> spans, nb::handle names);

}  // namespace halvane::py
