// Text on standard output, written by the interpreter's own print().
#pragma once
#include <initializer_list>
#include "py/errors.hpp"

namespace halvane::py {

/// print(*items): the builtin print looked up now, so sys.stdout and any
/// replacement of builtins.print are honoured.
void print(std::initializer_list<nb::handle> items);

}  // namespace halvane::py
