// The native modules as inspect, pydoc and editors expect them.
//
// nanobind's function objects carry their signature only as the text of a
// `def` line (__nb_signature__): inspect.signature fails on them, and help()
// lists module functions as data because they are not routines to inspect.
// Their three types (function, method, bound method) are nanobind's, shared
// by every module, and closed to assignment from Python. So when a module
// is loaded, each type receives in its own dict the attributes that
// halvane._signatures makes: a __signature__ property read from that text,
// and for the function type a __get__ that returns the function itself,
// which makes it a routine to inspect while a function stored on a class
// stays unbound as before (the type's descriptor slot is left untouched).
// This happens once per process; __all__ is set per module.
#include "py/publish.hpp"
#include "py/errors.hpp"
#include "py/function_types.hpp"

namespace halvane::py {

namespace {

/// Put every item of `attrs` into the dict of `type`, once.
void extend(PyTypeObject *type, nb::handle attrs) {
  if (PyDict_GetItemString(type->tp_dict, "__signature__")) return;
  PyObject *k, *v;
  Py_ssize_t pos = 0;
  while (PyDict_Next(attrs.ptr(), &pos, &k, &v))
    if (PyDict_SetItem(type->tp_dict, k, v) < 0) rethrow();
  PyType_Modified(type);
}

}  // namespace

void publish(nb::module_ &m, std::initializer_list<const char *> also) {
  nb::module_ intro = nb::module_::import_("halvane._signatures");
  FunctionTypes types = function_types();
  extend(types.function, intro.attr("FUNCTION"));
  extend(types.method, intro.attr("METHOD"));
  extend(types.bound, intro.attr("BOUND_METHOD"));
  nb::list args;
  args.append(m);
  for (const char *name : also) args.append(nb::str(name));
  m.attr("__all__") = intro.attr("public_names")(*nb::tuple(args));
}

}  // namespace halvane::py
