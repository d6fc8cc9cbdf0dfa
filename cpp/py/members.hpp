// Collaborators reached through a module global, as in `brick.catch(...)`.
//
// Interpreted code evaluates `brick.catch` on every call: first the global
// `brick` in the module's dict, then its attribute `catch`. A Member repeats
// both lookups at call time and remembers what they gave at load, so that the
// caller takes the direct C++ path exactly when the current object is the
// original one, and calls the Python object otherwise.
#pragma once
#include "py/rebind.hpp"

namespace halvane::py {

class Member {
 public:
  /// Remember attribute `attr` of the object bound to `owner`.
  void bind(const Rebindable &owner, const char *attr);

  /// The attribute as `<owner>.<attr>` evaluates now.
  nb::object current() const;

  /// True when `f` is the very object found at load.
  bool is_original(nb::handle f) const { return f.ptr() == original_; }

 private:
  const Rebindable *owner_ = nullptr;
  PyObject *owner_dict_ = nullptr;  ///< the original owner's __dict__, when it has one
  PyObject *attr_ = nullptr;
  PyObject *original_ = nullptr;
};

}  // namespace halvane::py
