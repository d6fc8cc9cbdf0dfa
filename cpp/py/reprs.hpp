// Text forms for __repr__: never raising, plain numbers for numpy scalars.
//
// A repr is called by debuggers, loggers and notebooks on objects in any
// state, so these helpers read attributes that may be missing, values of any
// type and user objects whose own repr may fail; whatever goes wrong becomes
// a neutral text instead of an exception.
#pragma once
#include <optional>
#include <string>
#include "py/errors.hpp"

namespace halvane::py {

/// The parts (strings and C strings) joined, appended one by one: GCC 12
/// warns falsely (-Wrestrict) on "text" + std::string temporaries.
template <typename... Parts>
std::string cat(const Parts &...parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

/// The name of the object's own type (a user subclass shows its name).
std::string class_name(nb::handle v);

/// repr(v) as UTF-8, a numpy scalar shown as the number it holds; an object
/// whose repr fails shows as "<Type object>".
std::string safe_repr(nb::handle v);

/// "<Type object>", the text of an object that cannot show itself.
std::string object_text(nb::handle v);

/// str(v) as UTF-8, or "<Type object>" when that fails.
std::string safe_str(nb::handle v);

/// obj.name, or an empty object when it is missing or cannot be read.
nb::object attr_or_none(nb::handle obj, const char *name);

/// The value of an int, a float or a real numpy scalar; nothing for any other value.
std::optional<double> real_value(nb::handle v);

/// "0 .. 80 ns": two times in seconds, in the unit (s, ms, µs, ns) of the larger.
std::string span_text(double a, double b);

/// Calls body(key, value) for each item of the dict attribute obj.name; a
/// missing or non-dict attribute has none. The items are a snapshot: a repr
/// of a value may run code that changes the dict.
template <typename Body>
void for_dict_items(nb::handle obj, const char *name, Body &&body) {
  nb::object d = attr_or_none(obj, name);
  if (!d.is_valid() || !PyDict_Check(d.ptr())) return;
  nb::object items = steal_or_throw(PyDict_Items(d.ptr()));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.ptr()); ++i) {
    PyObject *kv = PyList_GET_ITEM(items.ptr(), i);
    body(nb::handle(PyTuple_GET_ITEM(kv, 0)), nb::handle(PyTuple_GET_ITEM(kv, 1)));
  }
}

/// Run `body`, returning its text; any exception becomes "<Type object>".
template <typename Body>
nb::str never_raising(nb::handle self, Body &&body) {
  std::string text;
  try {
    text = body();
  } catch (...) {
    PyErr_Clear();
    text = object_text(self);
  }
  return nb::str(text.data(), text.size());
}

/// Guards a repr against an object that contains itself (Py_ReprEnter).
class ReprGuard {
 public:
  explicit ReprGuard(nb::handle self) : self_(self), entered_(Py_ReprEnter(self.ptr()) == 0) {}
  ~ReprGuard() {
    if (entered_) Py_ReprLeave(self_.ptr());
  }
  ReprGuard(const ReprGuard &) = delete;
  ReprGuard &operator=(const ReprGuard &) = delete;
  /// False while the object's repr is already being made further up.
  bool entered() const { return entered_; }

 private:
  nb::handle self_;
  bool entered_;
};

}  // namespace halvane::py
