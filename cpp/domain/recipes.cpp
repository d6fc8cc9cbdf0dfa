// The four layers of a pulse description.
#include "domain/recipes.hpp"
#include "py/calls.hpp"
#include "py/collaborators.hpp"
#include "py/mapping.hpp"

namespace halvane::domain {
using namespace halvane::py;

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

bool calls_pulse_description(nb::handle f, nb::handle kwds) {
  // halvane.waveintent offers its get_pd when it loads; until then no recipe has it.
  static Native native;
  if (!native.f) native = find_native("WaveIntent.get_pd");
  if (!native.f || f.ptr() != native.f) return false;
  return !kwds.is_valid() || !names_any(kwds, {HV_KEY("self"), HV_KEY("pdt"), HV_KEY("cp")});
}

}  // namespace halvane::domain
