// Call-time lookup of `<global>.<attr>`.
#include "py/members.hpp"

namespace halvane::py {

void Member::bind(const Rebindable &owner, const char *attr) {
  // Like the module globals, these references live as long as the interpreter.
  owner_ = &owner;
  attr_ = PyUnicode_InternFromString(attr);
  if (!attr_) rethrow();
  if (PyModule_Check(owner.original().ptr())) {
    owner_dict_ = PyModule_GetDict(owner.original().ptr());
    Py_XINCREF(owner_dict_);
  }
  original_ = steal_or_throw(PyObject_GetAttr(owner.original().ptr(), attr_)).release().ptr();
}

nb::object Member::current() const {
  nb::object owner = nb::borrow(owner_->current());
  // The original module's attribute is its dict entry; anything else (or a
  // missing entry, whose error the module's own lookup reports) goes through
  // the attribute protocol.
  if (owner_dict_ && owner_->is_original(owner)) {
    PyObject *v = PyDict_GetItemWithError(owner_dict_, attr_);
    if (v) return nb::borrow(v);
    if (PyErr_Occurred()) rethrow();
  }
  return steal_or_throw(PyObject_GetAttr(owner.ptr(), attr_));
}

bool Member::holds_original() const {
  try {
    return is_original(current());
  } catch (nb::python_error &) {
    return false;  // the caller's own lookup reports the error, if it needs the name
  }
}

void Originals::watch(nb::handle module) {
  PyObject *d = PyModule_GetDict(module.ptr());
  if (!d) rethrow();
  Py_INCREF(d);  // module dicts live as long as the interpreter
  compat::watch_dict(d);
  dicts_.push_back(d);
}

bool Originals::hold() const {
  if (confirmed_) {
    bool same = true;
    for (std::size_t i = 0; i < dicts_.size(); ++i) same &= compat::dict_stamp(dicts_[i]) == tags_[i];
    if (same) return true;
  }
  confirmed_ = false;
  for (const Rebindable *r : globals_) {
    try {
      if (!r->is_original(r->current())) return false;
    } catch (nb::python_error &) {
      return false;
    }
  }
  for (const Member *m : members_)
    if (!m->holds_original()) return false;
  tags_.clear();
  for (PyObject *d : dicts_) tags_.push_back(compat::dict_stamp(d));
  confirmed_ = true;
  return true;
}

}  // namespace halvane::py
