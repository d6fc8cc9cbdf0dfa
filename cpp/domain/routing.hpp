// Double-underscore keyword names and the routing of targeted keywords.
//
// 'q0__drag__scale' is a path: the first part names a line, track or pulse
// (or the wildcard "X"), the rest is the keyword as that target sees it.
#pragma once
#include "py/errors.hpp"

namespace halvane::domain {
using namespace halvane::py;

/// The non-empty parts of `k` split at "__" (k must be a str).
nb::list u2split(nb::handle k);

/// The parts of list `s` joined by "__", concatenated with += as Python would.
nb::object join_kw(nb::handle s);

/// The keywords of dict `kwds` that apply to target `w`, the target part peeled off.
nb::dict catch_kw(nb::handle kwds, nb::handle w);

}  // namespace halvane::domain
