// Calls with `**kw`, as the interpreter makes them.
//
// `f(*args, **kw)` copies the mapping `kw` into a new dict (TypeError "<f>()
// argument after ** must be a mapping, not <type>" when it is none) and
// passes its entries as keywords, which must be strings. An exact dict whose
// keys are exact strs goes straight into a vectorcall; anything else takes
// the interpreter's own path, so every message is the interpreter's.
#pragma once
#include <initializer_list>
#include "py/errors.hpp"

namespace halvane::py {

/// f(*args, **kw); `args` is a tuple.
nb::object call_kw(nb::handle f, nb::handle args, nb::handle kw);

/// obj.<name>(*args, **kw), the method found by attribute lookup.
nb::object call_method_kw(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args,
                          nb::handle kw);

/// obj.<name>(*args).
nb::object call_method(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args = {});

}  // namespace halvane::py
