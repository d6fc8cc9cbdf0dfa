// The type tags `__maj_type__` and `__mnr_type__` that instructions, rules
// and recipes carry as class attributes. Only a missing attribute counts as
// "no tag"; an error raised by a comparison propagates.
#pragma once
#include "py/errors.hpp"

namespace halvane::domain {
using namespace halvane::py;

/// The result of `w.<tag> == t`, or False when `w` has no such attribute.
nb::object tag_equals(nb::handle w, nb::handle tag, nb::handle t);

/// Whether `w.<tag> in L`; false when `w` has no such attribute.
bool tag_in(nb::handle w, nb::handle tag, nb::handle L);

/// Truth of tag_equals, for native callers.
bool tag_is(nb::handle w, nb::handle tag, nb::handle t);

}  // namespace halvane::domain
