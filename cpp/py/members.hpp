// Collaborators reached through a module global, as in `brick.catch(...)`.
//
// Interpreted code evaluates `brick.catch` on every call: first the global
// `brick` in the module's dict, then its attribute `catch`. A Member repeats
// both lookups at call time and remembers what they gave at load, so that the
// caller takes the direct C++ path exactly when the current object is the
// original one, and calls the Python object otherwise.
//
// Originals groups the bindings of one module and proves cheaply that they
// all still hold their originals: CPython 3.11 gives every dict a version tag
// that changes with each modification, so while the tags of the dicts the
// bindings are read from have not moved, nothing was rebound and no lookup
// is needed. After a change every binding is checked again.
#pragma once
#include <cstdint>
#include <vector>
#include "py/compat.hpp"
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

  nb::handle original() const { return original_; }

  /// Whether the lookup now gives the original (false when it fails).
  bool holds_original() const;

 private:
  const Rebindable *owner_ = nullptr;
  PyObject *owner_dict_ = nullptr;  ///< the original owner's __dict__, when it has one
  PyObject *attr_ = nullptr;
  PyObject *original_ = nullptr;
};

class Originals {
 public:
  /// Watch the __dict__ of `module`, from which bindings are read.
  void watch(nb::handle module);
  void require(const Rebindable &r) { globals_.push_back(&r); }
  void require(const Member &m) { members_.push_back(&m); }

  /// True when every required binding holds its original object.
  bool hold() const;

 private:
  std::vector<PyObject *> dicts_;
  std::vector<const Rebindable *> globals_;
  std::vector<const Member *> members_;
  mutable std::vector<std::uint64_t> tags_;
  mutable bool confirmed_ = false;
};

}  // namespace halvane::py
