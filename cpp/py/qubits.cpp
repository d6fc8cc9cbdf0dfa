// Qubit tuples to key strings and back.
#include "py/qubits.hpp"
#include <charconv>
#include <string>
#include "py/mapping.hpp"

namespace halvane::py {

// A tuple or list of machine-sized ints, the usual qubits, is written directly;
// returns false (nothing consumed) for anything else.
static bool small_ints_key(nb::handle qubits, std::string &out) {
  PyObject *seq = qubits.ptr();
  if (!PyTuple_CheckExact(seq) && !PyList_CheckExact(seq)) return false;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
  PyObject **items = PySequence_Fast_ITEMS(seq);
  char digits[24];
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!PyLong_CheckExact(items[i])) return false;
    int overflow = 0;
    long long q = PyLong_AsLongLongAndOverflow(items[i], &overflow);
    if (overflow) return false;
    if (i) out += 'x';
    out.append(digits, std::to_chars(digits, digits + sizeof digits, q).ptr);
  }
  return true;
}

nb::str to_xqubits(nb::handle qubits) {
  std::string key;
  if (small_ints_key(qubits, key)) return nb::str(key.data(), key.size());
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
