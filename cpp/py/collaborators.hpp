// Call-time collaborators: how a rebinding reaches the fast path.
//
// Interpreted code finds each function it calls when it calls it: `np.tanh`
// is the module global `np`, then its attribute `tanh`, looked up afresh on
// every call, so a user may rebind either and the next call sees it. The
// package keeps that promise and still takes direct C++ paths, in one way.
// Each module declares, in one table, every name its functions reach at call
// time: module globals (`brick`, `carrier`) and attributes of them
// (`brick.catch`, `np.max`). At load the table remembers the object each
// entry gives then, its original, and watches the dicts the lookups read
// (the module's own globals and those of the modules it names). A call first
// asks hold(): while no watched dict has changed since every entry was last
// found to be its original, that is one comparison of stamps (a dict watcher
// on CPython 3.12 and later, the dicts' version tags on 3.11; see
// py/compat.hpp). Only after a change are the entries looked up again, and
// an entry that gives another object is called as that Python object, with
// the arguments the interpreted code would pass: call() is that choice. A
// rebinding made in the middle of a call, by a user's callback, is therefore
// seen by the next lookup of that call, as the interpreter would see it.
//
// A method whose original is native (a recipe's `get_pd`, a rule's
// `semi_apply`, `rule.get_rule`) is found by its usual lookup and compared
// with the function the module that made it offered under a name, with the
// C++ code that calling it runs; a function reached through data (a shape
// in the shape table) is looked up by identity in the same table, which
// exists once per process (py/shared.hpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>
#include "py/errors.hpp"

namespace halvane::py {

/// One entry of a table: the module global `global`, or its attribute `attr`.
struct Collaborator {
  const char *global;
  const char *attr = nullptr;
};

class Collaborators {
 public:
  /// The table of a module; entry i is looked up as table[i] says.
  Collaborators(std::initializer_list<Collaborator> table) : table_(table) {}

  /// Remember every entry's original in `module`'s globals as they are now,
  /// and publish the table as `module._collaborators`, a tuple of the names.
  void bind(nb::handle module);

  /// True when every entry still gives its original object.
  bool hold() const;

  /// What entry i gives now, with the interpreter's error when the lookup fails.
  nb::object current(std::size_t i) const;

  /// Whether `f` is entry i's original.
  bool is_original(std::size_t i, nb::handle f) const { return f.ptr() == entries_[i].original; }

  /// Whether entry i gives its original now (false when the lookup fails).
  bool original(std::size_t i) const;

  /// Entry i's original object.
  nb::handle original_object(std::size_t i) const { return entries_[i].original; }

  /// Entry i called as interpreted code calls it: `native()` while it gives
  /// its original, else the current object with `args`.
  template <typename Native, typename... Args>
  nb::object call(std::size_t i, Native &&native, const Args &...args) const {
    if (!hold()) {
      nb::object f = current(i);
      if (!is_original(i, f)) return f(args...);
    }
    if constexpr (std::is_void_v<decltype(native())>) {
      native();
      return nb::none();
    } else {
      return native();
    }
  }

 private:
  struct Entry {
    PyObject *global = nullptr, *attr = nullptr;  ///< interned names
    PyObject *original = nullptr;
    PyObject *owner = nullptr;       ///< for an attribute: the global's original
    PyObject *owner_dict = nullptr;  ///< and its __dict__, when it is a module
  };
  bool verify() const;
  std::vector<Collaborator> table_;
  std::vector<Entry> entries_;
  PyObject *globals_ = nullptr;
  std::vector<PyObject *> dicts_;  ///< every dict the lookups read
  mutable std::vector<std::uint64_t> stamps_;
  mutable bool confirmed_ = false;
};

// ---- natives offered across modules ----------------------------------------

/// self.<method>(a[, b], **kwds) as the method's binding would call it, where
/// `kwds` is an exact dict with str keys that the call may keep, or empty.
using NativeMethod = nb::object (*)(nb::handle self, nb::handle a, nb::handle b, nb::handle kwds);

struct Native {
  PyObject *f = nullptr;
  NativeMethod impl = nullptr;
};

/// Offer `impl` under `name` as what calling the function `f` does.
void offer_native(const char *name, nb::handle f, NativeMethod impl);

/// What was offered under `name`; nulls when nothing was (yet).
Native find_native(const char *name);

/// Offer the function `f` as the native code numbered `kind` by its module
/// (a shape function as its kernel's shape); the table keeps `f` alive.
void offer_function(nb::handle f, int kind);

/// The number offered for exactly `f`, or -1.
int find_function(nb::handle f);

}  // namespace halvane::py
