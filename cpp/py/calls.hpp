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

/// Whether `kw` is an exact dict with exact str keys, ready for a vectorcall.
bool plain_keywords(nb::handle kw);

/// Whether dict `kw` has one of `names` as a key; a binding refuses a
/// keyword that names one of its parameters.
bool names_any(nb::handle kw, std::initializer_list<nb::handle> names);

/// obj.<name> as a method call looks it up: the function, and whether `obj`
/// is still to be passed as its first argument (a function found on the type).
struct Method {
  nb::object f;
  bool unbound;
};
Method find_method(nb::handle obj, nb::handle name);

/// The found method called with `args` and the keywords of `kw`, a dict of
/// plain keywords or an empty object for none.
nb::object call_found(const Method &m, nb::handle obj, std::initializer_list<nb::handle> args, nb::handle kw);

/// f(*args, **kw); `args` is a tuple.
nb::object call_kw(nb::handle f, nb::handle args, nb::handle kw);

/// obj.<name>(*args, **kw), the method found by attribute lookup.
nb::object call_method_kw(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args,
                          nb::handle kw);

/// obj.<name>(*args).
nb::object call_method(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args = {});

}  // namespace halvane::py
