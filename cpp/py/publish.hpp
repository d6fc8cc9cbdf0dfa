// The native modules as inspect, pydoc and editors expect them.
#pragma once
#include <initializer_list>
#include <nanobind/nanobind.h>

namespace halvane::py {
namespace nb = nanobind;

/// Finish a module: set `__all__` to its public names (those without a
/// leading underscore, and `also`) and make its functions routines with
/// signatures (see publish.cpp); finish_module (module.hpp) calls it.
void publish(nb::module_ &m, std::initializer_list<const char *> also = {});

}  // namespace halvane::py
