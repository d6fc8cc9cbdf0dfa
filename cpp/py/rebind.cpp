// Call-time lookup of module globals, with the builtins as fallback.
#include "py/rebind.hpp"

namespace halvane::py {

void Rebindable::bind(nb::handle module, const char *name) {
  // Module objects live as long as the interpreter; these references are kept.
  globals_ = PyModule_GetDict(module.ptr());
  Py_XINCREF(globals_);
  name_ = PyUnicode_InternFromString(name);
  if (!globals_ || !name_) rethrow();
  original_ = PyDict_GetItemWithError(globals_, name_);
  if (!original_) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    rethrow();
  }
  Py_INCREF(original_);
}

nb::handle Rebindable::current() const {
  PyObject *v = PyDict_GetItemWithError(globals_, name_);
  if (v) return v;
  if (PyErr_Occurred()) rethrow();
  v = PyDict_GetItemWithError(PyEval_GetBuiltins(), name_);
  if (v) return v;
  if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name_);
  rethrow();
}

}  // namespace halvane::py
