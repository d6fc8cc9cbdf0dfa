// Parameter names for functions that take any Python object.
//
// nanobind refuses None for every parameter unless the annotation allows it,
// but interpreted code takes whatever it is given; every parameter declared
// with halvane::py::arg accepts None like any other object. Use it instead of
// nb::arg for nb::handle / nb::object parameters.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::py {

inline auto arg(const char *name) { return nanobind::arg(name).none(); }

}  // namespace halvane::py
