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
//
// numpy is reached the same way: a module's formulas call `np.<f>` through
// entries of its table (wavespec_handling: `np.tanh`, `np.cosh`, `np.max`,
// `np.exp`), so a rebound `np` or `np.<f>` is called. The one exception is
// the memory numpy gives for results and scratch arrays (`np.zeros`,
// `np.complex128`, `np.ascontiguousarray` in py/samples.cpp): those are
// taken from numpy itself, never through a module's `np`, since they are
// the package's own buffers, not a step of a formula.
//
// === Adding a collaborator ===
//
// 1. In the module's table (`collaborator_table`, beside its `enum` of
//    names), add a name before NAME_COUNT and the entry `{NAME, "global"}`
//    or `{NAME, "global", "attr"}` at the same place; named_in_order() fails
//    the build when the two disagree.
// 2. Where the native code depends on the collaborator, take the native path
//    only while `names.original(NAME)` (or call through `names.call`), and
//    otherwise call `names.current(NAME)` with the arguments the interpreted
//    code passes, at the point where it would look the name up.
// 3. Give it a case in tests/test_collaborators.py, which fails while a
//    declared entry has none: it rebinds the entry and checks the call.
//
// === Life cycle and invalidation ===
//
// bind() runs once, when the module is first initialised, and keeps strong
// references to the module's globals, every original and every watched dict
// for as long as the process lives (modules are never unloaded). The
// originals are therefore never freed and never replaced by another object
// at the same address. Nothing a user passes is kept: a table names only
// module globals and their attributes. A stamp moves on any change of a
// watched dict, also one that rebinds something else; the next hold() then
// looks every entry up once more and, when all are their originals again
// (a rebinding undone, or an unrelated global set), confirms the stamps
// anew, so the fast path returns after any change that is undone. A deleted
// global makes current() raise NameError, as the interpreter would, and the
// path that needed it reports it.
//
// === Concurrency ===
//
// Every member function is called with the GIL held (the stamps and the
// "confirmed" flag are mutable state shared by all threads, made consistent
// by the GIL); kernels that run without the GIL never consult the table, so
// a decision is taken under the GIL before the GIL is released and holds
// for that call. A rebinding made by another thread while a call runs
// without the GIL is seen by the next call, as in interpreted code, whose
// lookups would have happened before the same point. Free-threaded builds
// are not supported.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>
#include "py/errors.hpp"

namespace halvane::py {

/// One entry of a table, named by its module's enum: the module global
/// `global`, or its attribute `attr`.
struct Collaborator {
  std::size_t name;
  const char *global;
  const char *attr = nullptr;
};

/// Whether entry i of `table` is the one named i, for every name below
/// `count`: each module's table is checked with it at compile time.
template <std::size_t N>
constexpr bool named_in_order(const Collaborator (&table)[N], std::size_t count) {
  if (N != count) return false;
  for (std::size_t i = 0; i < N; ++i)
    if (table[i].name != i) return false;
  return true;
}

class Collaborators {
 public:
  /// The table of a module; entry i is looked up as table[i] says.
  template <std::size_t N>
  explicit Collaborators(const Collaborator (&table)[N]) : table_(table, table + N) {}

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
