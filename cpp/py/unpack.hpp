// Tuple unpacking `a, b, c = obj`, with the interpreter's messages.
#pragma once
#include <array>
#include "py/errors.hpp"

namespace halvane::py {

/// The n items of `obj`; TypeError when it is not iterable, ValueError when
/// it yields fewer or more than n items.
void unpack(nb::handle obj, nb::object *out, std::size_t n);

template <std::size_t N>
std::array<nb::object, N> unpack(nb::handle obj) {
  std::array<nb::object, N> out;
  unpack(obj, out.data(), N);
  return out;
}

}  // namespace halvane::py
