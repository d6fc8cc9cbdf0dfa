// Qubit tuples to key strings and back.
#include "domain/qubits.hpp"
#include <array>
#include <charconv>
#include <string>
#include "py/mapping.hpp"
#include "py/shared.hpp"

namespace halvane::domain {
using namespace halvane::py;

namespace {

/// An exact int that fits a long long, as `q`; false for anything else.
bool small_int(PyObject *item, long long &q) {
  if (!PyLong_CheckExact(item)) return false;
  int overflow = 0;
  q = PyLong_AsLongLongAndOverflow(item, &overflow);
  return !overflow;
}

}  // namespace

// A tuple or list of machine-sized ints, the usual qubits, is written directly;
// returns false (nothing consumed) for anything else.
static bool small_ints_key(nb::handle qubits, std::string &out) {
  PyObject *seq = qubits.ptr();
  if (!PyTuple_CheckExact(seq) && !PyList_CheckExact(seq)) return false;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
  PyObject **items = PySequence_Fast_ITEMS(seq);
  char digits[24];
  for (Py_ssize_t i = 0; i < n; ++i) {
    long long q;
    if (!small_int(items[i], q)) return false;
    if (i) out += 'x';
    out.append(digits, std::to_chars(digits, digits + sizeof digits, q).ptr);
  }
  return true;
}

namespace {

/// The keys of one qubit below 1024 and of two below 128, each made once:
/// a circuit asks for the same few keys over and over, and a str made
/// before has its hash at hand for the lookups that follow.
constexpr long long single_limit = 1024, pair_limit = 128;

/// The cache entry for `qubits`, or null when they have none.
PyObject **cached_key(PyObject *seq) {
  // One cache for the process, whichever module asks.
  using Keys = std::array<PyObject *, single_limit + pair_limit * pair_limit>;
  static Keys &keys = shared<Keys>("halvane.qubit_keys");
  if (!PyTuple_CheckExact(seq)) return nullptr;
  Py_ssize_t n = PyTuple_GET_SIZE(seq);
  if (n < 1 || n > 2) return nullptr;
  long long q[2] = {0, 0};
  for (Py_ssize_t i = 0; i < n; ++i)
    if (!small_int(PyTuple_GET_ITEM(seq, i), q[i])) return nullptr;
  if (n == 1 && q[0] >= 0 && q[0] < single_limit) return &keys[static_cast<std::size_t>(q[0])];
  if (n == 2 && q[0] >= 0 && q[0] < pair_limit && q[1] >= 0 && q[1] < pair_limit)
    return &keys[static_cast<std::size_t>(single_limit + q[0] * pair_limit + q[1])];
  return nullptr;
}

}  // namespace

nb::str to_xqubits(nb::handle qubits) {
  PyObject **cached = cached_key(qubits.ptr());
  if (cached && *cached) return nb::borrow<nb::str>(*cached);
  std::string key;
  if (small_ints_key(qubits, key)) {
    nb::str made(key.data(), key.size());
    // Kept for the interpreter's lifetime, like the module's own constants.
    if (cached && PyObject_Hash(made.ptr()) != -1) *cached = nb::object(made).release().ptr();
    return made;
  }
  nb::object it = steal_or_throw(PyObject_GetIter(qubits.ptr()));
  nb::list parts;
  while (PyObject *item = PyIter_Next(it.ptr())) {
    nb::object held = nb::steal(item);
    check_signals();
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

}  // namespace halvane::domain
