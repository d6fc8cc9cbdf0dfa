// What halvane needs of CPython beyond its public API, for 3.11, 3.12 and 3.13.
//
// This is the only file that names a private function of the interpreter or
// reads one of its structs; everything else calls the functions below. Each
// has one meaning on every supported version:
//
// - lookup_attr, function_str and get_method are the interpreter's own
//   attribute lookup without AttributeError, the "module.qualname()" text of
//   its messages, and its method lookup that skips the bound-method object
//   (internal from 3.13, but still exported, so declared here).
// - dict_stamp(d) is a number that changes whenever dict d changes, for a
//   dict that watch_dict(d) was given first. 3.11 reads the dict's version
//   tag; 3.12 deprecated that tag in favour of dict watchers, so from 3.12 one
//   watcher for the whole process (py/shared.hpp) counts every change of
//   every watched dict (and its deallocation, so that a new dict at the same
//   address never passes for an unchanged one) and the stamp is that count.
// - prefetch_dict_table(d) asks for the start of a dict's table ahead of use.
#pragma once
#include <cstdint>
#include "py/errors.hpp"
#include "py/shared.hpp"

#if PY_VERSION_HEX >= 0x030D0000
// 3.13 moved the method lookup to its internal headers; the interpreter
// still exports it.
extern "C" PyAPI_FUNC(int) _PyObject_GetMethod(PyObject *, PyObject *, PyObject **);
#endif

namespace halvane::py::compat {

/// getattr(o, name) into *v: 1 found, 0 absent (AttributeError cleared), -1 error.
inline int lookup_attr(PyObject *o, PyObject *name, PyObject **v) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyObject_GetOptionalAttr(o, name, v);
#else
  return _PyObject_LookupAttr(o, name, v);
#endif
}

/// "module.qualname()" for a function, as the interpreter's call errors name it.
inline PyObject *function_str(PyObject *f) { return _PyObject_FunctionStr(f); }

/// obj.<name> for a call into *f: 1 when *f is a function found on the type
/// that still wants `obj` as its first argument, 0 when *f is the attribute
/// itself (NULL with an error set when the lookup failed), -1 on error.
inline int get_method(PyObject *obj, PyObject *name, PyObject **f) {
  return _PyObject_GetMethod(obj, name, f);
}

/// Ask the processor for an exact dict's table ahead of use (the dict object
/// itself should have been asked for earlier, as its table pointer is read):
/// a pass over many dicts scattered in memory otherwise waits on each in
/// turn. Reads one pointer of the dict's struct; a prefetch never faults.
inline void prefetch_dict_table(PyObject *d) {
#if defined(__GNUC__) || defined(__clang__)
  if (!PyDict_CheckExact(d)) return;
  const char *table = reinterpret_cast<const char *>(reinterpret_cast<PyDictObject *>(d)->ma_keys);
  for (int line = 0; line < 6; ++line) __builtin_prefetch(table + 64 * line);
#else
  (void)d;
#endif
}

#if PY_VERSION_HEX >= 0x030C0000
namespace detail {

/// The process's one dict watcher and its count of changes (dict watchers
/// are few: CPython allows eight per interpreter).
struct Watcher {
  int id = -1;
  std::uint64_t changes = 0;
};

/// This module's pointer to it, read by the callback of the module that registered it.
inline Watcher *counting = nullptr;

inline Watcher &watcher() {
  static Watcher *w = [] {
    Watcher *s = &shared<Watcher>("halvane.dict_watcher");
    if (s->id < 0) {
      counting = s;
      s->id = PyDict_AddWatcher([](PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) -> int {
        ++counting->changes;
        return 0;
      });
      if (s->id < 0) rethrow();
    }
    return s;
  }();
  return *w;
}

}  // namespace detail
#endif

/// Notice the changes of dict `d` from now on (see dict_stamp).
inline void watch_dict(PyObject *d) {
#if PY_VERSION_HEX >= 0x030C0000
  if (PyDict_Watch(detail::watcher().id, d) < 0) rethrow();
#else
  (void)d;
#endif
}

/// A number that changes whenever the watched dict `d` changes.
inline std::uint64_t dict_stamp(PyObject *d) {
#if PY_VERSION_HEX >= 0x030C0000
  (void)d;
  return detail::watcher().changes;
#else
  return reinterpret_cast<PyDictObject *>(d)->ma_version_tag;
#endif
}

}  // namespace halvane::py::compat
