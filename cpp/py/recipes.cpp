// The four layers of a pulse description.
#include "py/recipes.hpp"
#include <cstring>
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/mapping.hpp"
#include "py/objects.hpp"

namespace halvane::py {

nb::object pulse_description(nb::handle self, nb::handle pdt, nb::handle cp, nb::handle kwds) {
  nb::object w = copy(pdt);
  // Looked up on the instance, so a subclass's (or an instance's own) hook runs.
  PyObject *args[] = {self.ptr(), w.ptr(), cp.ptr()};
  steal_or_throw(PyObject_VectorcallMethod(HV_KEY("will").ptr(), args, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  nb::object kw = steal_or_throw(PyObject_GetAttr(self.ptr(), HV_KEY("kw").ptr()));
  update(w, kw);
  // Without keywords the binding would still pass an empty dict, which a
  // copy that is not a dict is updated with.
  if (kwds.is_valid()) update(w, kwds);
  else if (!PyDict_CheckExact(w.ptr())) update(w, nb::dict());
  return w;
}

namespace {

/// Only the extension defines a nanobind method under this name; a class
/// that copies it gets the same function, and so the same behaviour.
bool is_get_pd(nb::handle f) {
  if (std::strcmp(Py_TYPE(f.ptr())->tp_name, "nanobind.nb_method") != 0) return false;
  nb::object qualname = getattr_or_null(f, HV_KEY("__qualname__"));
  nb::object module = getattr_or_null(f, HV_KEY("__module__"));
  return qualname.is_valid() && module.is_valid() && equals(qualname, HV_KEY("WaveIntent.get_pd")) &&
         equals(module, HV_KEY("halvane.waveintent"));
}

}  // namespace

bool calls_pulse_description(nb::handle f, nb::handle kwds) {
  static PyObject *known = nullptr;
  if (f.ptr() != known) {
    if (known || !is_get_pd(f)) return false;
    known = Py_NewRef(f.ptr());  // the extension's function lives as long as the interpreter
  }
  return !kwds.is_valid() || !names_any(kwds, {HV_KEY("self"), HV_KEY("pdt"), HV_KEY("cp")});
}

}  // namespace halvane::py
