// Module-level names looked up at call time.
//
// Interpreted code finds a collaborator such as `sine_edge` or `brick` in its
// module's globals on every call, so users may rebind it. A Rebindable keeps
// the module dict, the name and the object bound at load; current() reads the
// binding now, and is_original() tells the caller it may take the direct C++
// path instead of calling through the interpreter.
#pragma once
#include "py/errors.hpp"

namespace halvane::py {

class Rebindable {
 public:
  /// Remember `name` in `module`, whose current value is the original.
  void bind(nb::handle module, const char *name);

  /// The object bound to the name now (borrowed); NameError when it was deleted.
  nb::handle current() const;

  /// True when `obj` is the very object bound at load.
  bool is_original(nb::handle obj) const { return obj.ptr() == original_; }

  nb::handle original() const { return original_; }

 private:
  PyObject *globals_ = nullptr;
  PyObject *name_ = nullptr;
  PyObject *original_ = nullptr;
};

}  // namespace halvane::py
