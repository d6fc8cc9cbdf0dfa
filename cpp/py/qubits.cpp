// Qubit tuples to key strings and back.
#include "py/qubits.hpp"
#include "py/mapping.hpp"

namespace halvane::py {

nb::str to_xqubits(nb::handle qubits) {
  nb::object it = steal_or_throw(PyObject_GetIter(qubits.ptr()));
  nb::list parts;
  while (PyObject *item = PyIter_Next(it.ptr())) {
    nb::object held = nb::steal(item);
    parts.append(steal_or_throw(PyObject_Str(item)));
  }
  if (PyErr_Occurred()) rethrow();
  return nb::steal<nb::str>(steal_or_throw(PyUnicode_Join(HV_KEY("x").ptr(), parts.ptr())).release());
}

nb::list from_xqubits(nb::handle text) {
  nb::object pieces = PyUnicode_Check(text.ptr())
                          ? steal_or_throw(PyUnicode_Split(text.ptr(), HV_KEY("x").ptr(), -1))
                          : text.attr("split")(HV_KEY("x"));
  nb::list out;
  nb::handle int_ = reinterpret_cast<PyObject *>(&PyLong_Type);
  for (nb::handle p : pieces) out.append(int_(p));
  return out;
}

}  // namespace halvane::py
