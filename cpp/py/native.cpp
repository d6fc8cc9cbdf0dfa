// The table of offered implementations: name -> (function, capsule).
#include "py/native.hpp"

namespace halvane::py {

namespace {

constexpr const char *capsule_name = "halvane.native";

PyObject *table() {
  PyObject *interp = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (!interp) rethrow();
  PyObject *t = PyDict_GetItemString(interp, capsule_name);
  if (t) return t;
  nb::object made = steal_or_throw(PyDict_New());
  if (PyDict_SetItemString(interp, capsule_name, made.ptr()) < 0) rethrow();
  return made.ptr();  // now held by the interpreter's dict
}

}  // namespace

void offer_native(const char *name, nb::handle f, NativeMethod impl) {
  nb::object cap = steal_or_throw(PyCapsule_New(reinterpret_cast<void *>(impl), capsule_name, nullptr));
  nb::object entry = steal_or_throw(PyTuple_Pack(2, f.ptr(), cap.ptr()));
  if (PyDict_SetItemString(table(), name, entry.ptr()) < 0) rethrow();
}

Native find_native(const char *name) {
  PyObject *entry = PyDict_GetItemString(table(), name);
  if (!entry) return {};
  void *impl = PyCapsule_GetPointer(PyTuple_GET_ITEM(entry, 1), capsule_name);
  if (!impl) rethrow();
  return {PyTuple_GET_ITEM(entry, 0), reinterpret_cast<NativeMethod>(impl)};
}

}  // namespace halvane::py
