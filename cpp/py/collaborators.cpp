// A module's table of call-time collaborators, and the natives that modules
// offer one another.
#include "py/collaborators.hpp"
#include <algorithm>
#include "py/compat.hpp"
#include "py/mapping.hpp"
#include "py/shared.hpp"

namespace halvane::py {

namespace {

PyObject *intern(const char *s) {
  PyObject *o = PyUnicode_InternFromString(s);
  if (!o) rethrow();
  return o;
}

/// The module global `name` as interpreted code reads it: the module's dict,
/// then the builtins (borrowed); NameError when neither has it.
PyObject *global_now(PyObject *globals, PyObject *name) {
  PyObject *v = PyDict_GetItemWithError(globals, name);
  if (v) return v;
  if (PyErr_Occurred()) rethrow();
  v = PyDict_GetItemWithError(PyEval_GetBuiltins(), name);
  if (v) return v;
  if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  rethrow();
}

}  // namespace

void Collaborators::bind(nb::handle module) {
  // Modules live as long as the interpreter: these references are kept.
  globals_ = Py_NewRef(PyModule_GetDict(module.ptr()));
  auto watch = [&](PyObject *d) {
    if (std::find(dicts_.begin(), dicts_.end(), d) != dicts_.end()) return;
    compat::watch_dict(d);
    dicts_.push_back(Py_NewRef(d));
  };
  watch(globals_);
  nb::object names = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(table_.size())));
  Py_ssize_t i = 0;
  for (const Collaborator &c : table_) {
    Entry e;
    e.global = intern(c.global);
    PyObject *owner = global_now(globals_, e.global);
    if (c.attr) {
      e.attr = intern(c.attr);
      e.owner = Py_NewRef(owner);
      if (PyModule_Check(owner)) {
        e.owner_dict = Py_NewRef(PyModule_GetDict(owner));
        watch(e.owner_dict);
      }
      e.original = steal_or_throw(PyObject_GetAttr(owner, e.attr)).release().ptr();
    } else {
      e.original = Py_NewRef(owner);
    }
    entries_.push_back(e);
    nb::object name = c.attr ? steal_or_throw(PyUnicode_FromFormat("%s.%s", c.global, c.attr))
                             : nb::object(nb::str(c.global));
    PyTuple_SET_ITEM(names.ptr(), i++, name.release().ptr());
  }
  if (PyObject_SetAttrString(module.ptr(), "_collaborators", names.ptr()) < 0) rethrow();
}

nb::object Collaborators::current(std::size_t i) const {
  const Entry &e = entries_[i];
  PyObject *owner = global_now(globals_, e.global);
  if (!e.attr) return nb::borrow(owner);
  // The original module's attribute is its dict entry; anything else (or a
  // missing entry, whose error the module's own lookup reports) goes through
  // the attribute protocol.
  if (e.owner_dict && owner == e.owner) {
    if (PyObject *v = PyDict_GetItemWithError(e.owner_dict, e.attr)) return nb::borrow(v);
    if (PyErr_Occurred()) rethrow();
  }
  return steal_or_throw(PyObject_GetAttr(owner, e.attr));
}

bool Collaborators::original(std::size_t i) const {
  if (hold()) return true;
  try {
    return is_original(i, current(i));
  } catch (nb::python_error &) {
    return false;  // the caller's own lookup reports the error, if it needs the name
  }
}

bool Collaborators::hold() const {
  if (confirmed_) {
    bool same = true;
    for (std::size_t i = 0; i < dicts_.size(); ++i) same &= compat::dict_stamp(dicts_[i]) == stamps_[i];
    if (same) return true;
  }
  confirmed_ = false;
  if (!verify()) return false;
  stamps_.clear();
  for (PyObject *d : dicts_) stamps_.push_back(compat::dict_stamp(d));
  confirmed_ = true;
  return true;
}

bool Collaborators::verify() const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    try {
      if (!is_original(i, current(i))) return false;
    } catch (nb::python_error &) {
      return false;
    }
  }
  return true;
}

// ---- natives offered across modules ----------------------------------------

namespace {

constexpr const char *capsule_name = "halvane.native";

/// The process's table of natives (py/shared.hpp): name or type -> entry.
struct Natives {
  PyObject *dict = PyDict_New();
};

PyObject *table() {
  static PyObject *t = shared<Natives>("halvane.natives").dict;
  if (!t) rethrow();
  return t;
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

void offer_function(nb::handle f, int kind) {
  nb::object k = steal_or_throw(PyLong_FromLong(kind));
  if (PyDict_SetItem(table(), f.ptr(), k.ptr()) < 0) rethrow();
}

int find_function(nb::handle f) {
  PyObject *k = PyDict_GetItemWithError(table(), f.ptr());
  if (!k) {
    if (PyErr_Occurred()) rethrow();
    return -1;
  }
  return PyLong_Check(k) ? static_cast<int>(PyLong_AsLong(k)) : -1;
}

}  // namespace halvane::py
