// Functions one extension module offers another for direct calls.
//
// A method such as RULE.semi_apply is a nanobind function whose binding
// unpacks the arguments of each call. The module that made it can offer its
// C++ implementation here under a name, together with the function object;
// another module that finds that very object by its usual lookup may call
// the implementation directly and skip the binding. The table lives in the
// interpreter's own dict, which Python code does not reach, and keeps the
// functions alive, so that no other object can take the address of one.
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

/// self.<method>(arg, **kwds) as the method's binding would call it, where
/// `kwds` is an exact dict with str keys that the call may keep.
using NativeMethod = nb::object (*)(nb::handle self, nb::handle arg, nb::handle kwds);

struct Native {
  PyObject *f = nullptr;
  NativeMethod impl = nullptr;
};

/// Offer `impl` under `name` as what calling the function `f` does.
void offer_native(const char *name, nb::handle f, NativeMethod impl);

/// What was offered under `name`; nulls when nothing was.
Native find_native(const char *name);

/// A recipe type whose descriptions are made natively: for an instance that
/// keeps the type's `will` and `get_pd`, the description depends only on
/// pdt, cp, the instance's `kw` and the globals of one module, and the
/// making runs no other code, while `guard()` is true (it reads those
/// globals and must not raise).
using Guard = bool (*)();
struct NativeRecipe {
  PyObject *will = nullptr;     ///< the type's own will
  PyObject *globals = nullptr;  ///< the module dict the making reads
  Guard guard = nullptr;
};

/// Offer `type` as such a recipe type, with its `will` and its module.
void offer_recipe(nb::handle type, nb::handle module, Guard guard);

/// What was offered for exactly `type`; nulls when nothing was.
NativeRecipe find_recipe(PyTypeObject *type);

}  // namespace halvane::py
