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

}  // namespace halvane::py
