// The table of offered implementations: name -> (function, capsule), and
// recipe type -> (will, module dict, capsule).
#include "py/native.hpp"
#include "py/mapping.hpp"

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

void offer_recipe(nb::handle type, nb::handle module, Guard guard) {
  PyObject *will = PyDict_GetItemWithError(reinterpret_cast<PyTypeObject *>(type.ptr())->tp_dict, HV_KEY("will").ptr());
  if (!will) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_AttributeError, "will");
    rethrow();
  }
  nb::object cap = steal_or_throw(PyCapsule_New(reinterpret_cast<void *>(guard), capsule_name, nullptr));
  nb::object entry = steal_or_throw(PyTuple_Pack(3, will, PyModule_GetDict(module.ptr()), cap.ptr()));
  if (PyDict_SetItem(table(), type.ptr(), entry.ptr()) < 0) rethrow();
}

NativeRecipe find_recipe(PyTypeObject *type) {
  PyObject *entry = PyDict_GetItemWithError(table(), reinterpret_cast<PyObject *>(type));
  if (!entry) {
    if (PyErr_Occurred()) rethrow();
    return {};
  }
  void *guard = PyCapsule_GetPointer(PyTuple_GET_ITEM(entry, 2), capsule_name);
  if (!guard) rethrow();
  return {PyTuple_GET_ITEM(entry, 0), PyTuple_GET_ITEM(entry, 1), reinterpret_cast<Guard>(guard)};
}

}  // namespace halvane::py
