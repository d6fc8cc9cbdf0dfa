// Classes that behave like classes written in Python.
//
// A class is made by calling the interpreter's `type(name, bases, ns)`, so it
// is an ordinary heap type: instances have a __dict__ and weak references,
// users can subclass it, also together with a mixin, and the default pickle
// and copy protocols find it by module and qualified name. Its methods are
// nanobind functions flagged as methods, which bind to instances like Python
// functions do; the instance arrives as the first argument.
#pragma once
#include <utility>
#include "py/errors.hpp"

namespace halvane::py {

/// Make class `name` of `module` with the given bases (a tuple) and docstring.
nb::object make_class(nb::handle module, const char *name, nb::handle bases, const char *doc);

/// Add method `name` to `cls`; `extra` are nanobind annotations (nb::arg, nb::sig, doc).
template <typename Func, typename... Extra>
void def_method(nb::handle cls, const char *name, Func &&f, const Extra &...extra) {
  nb::object fn = nb::cpp_function(std::forward<Func>(f), nb::name(name), nb::scope(cls),
                                   nb::is_method(), extra...);
  if (PyObject_SetAttrString(cls.ptr(), name, fn.ptr()) < 0) rethrow();
}

/// The attribute `name` of `obj`, or an empty object when it is absent
/// (only AttributeError counts as absent; other errors propagate).
nb::object getattr_or_null(nb::handle obj, nb::handle name);

}  // namespace halvane::py
