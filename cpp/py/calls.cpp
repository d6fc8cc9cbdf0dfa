// Calls with `**kw`.
#include "py/calls.hpp"
#include <iterator>
#include <vector>
#include "py/compat.hpp"

namespace halvane::py {

bool plain_keywords(nb::handle kw) {
  if (!PyDict_CheckExact(kw.ptr())) return false;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(kw.ptr(), &pos, &k, &v))
    if (!PyUnicode_CheckExact(k)) return false;
  return true;
}

bool names_any(nb::handle kw, std::initializer_list<nb::handle> names) {
  for (nb::handle n : names) {
    int r = PyDict_Contains(kw.ptr(), n.ptr());
    if (r < 0) rethrow();
    if (r) return true;
  }
  return false;
}

namespace {

/// The dict that `**kw` makes, with the interpreter's message for a non-mapping.
nb::object unpack_keywords(nb::handle f, nb::handle kw) {
  nb::object d = steal_or_throw(PyDict_New());
  if (PyDict_Merge(d.ptr(), kw.ptr(), 1) < 0) {
    // The merge asks a non-mapping for keys(); the interpreter turns that
    // AttributeError into its own TypeError naming the callee.
    if (!PyDict_Check(kw.ptr()) && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      nb::object name = steal_or_throw(compat::function_str(f.ptr()));
      PyErr_Format(PyExc_TypeError, "%U argument after ** must be a mapping, not %.200s",
                   name.ptr(), Py_TYPE(kw.ptr())->tp_name);
    }
    rethrow();
  }
  return d;
}

/// The argument vector of a vectorcall, on the stack when it is short. Slot 0
/// is left free for the callee (PY_VECTORCALL_ARGUMENTS_OFFSET).
class Stack {
 public:
  explicit Stack(std::size_t n) {
    if (n + 1 > std::size(small_)) {
      large_.resize(n + 1);
      data_ = large_.data();
    }
  }
  void push(nb::handle h) { data_[++top_] = h.ptr(); }
  /// f(*args[skip:nargs], **dict(zip(names, args[nargs:]))); skip drops args[0].
  nb::object call(nb::handle f, bool skip, std::size_t nargs, nb::handle names) {
    return steal_or_throw(PyObject_Vectorcall(f.ptr(), data_ + 1 + skip,
                                              (nargs - skip) | PY_VECTORCALL_ARGUMENTS_OFFSET, names.ptr()));
  }

 private:
  PyObject *small_[8] = {};
  std::vector<PyObject *> large_;
  PyObject **data_ = small_;
  std::size_t top_ = 0;
};

}  // namespace

nb::object call_kw(nb::handle f, nb::handle args, nb::handle kw) {
  nb::object d = unpack_keywords(f, kw);
  return steal_or_throw(PyObject_Call(f.ptr(), args.ptr(), d.ptr()));
}

Method find_method(nb::handle obj, nb::handle name) {
  PyObject *f = nullptr;
  int unbound = compat::get_method(obj.ptr(), name.ptr(), &f);
  return {steal_or_throw(f), unbound == 1};
}

nb::object call_found(const Method &m, nb::handle obj, std::initializer_list<nb::handle> args, nb::handle kw) {
  std::size_t nkw = kw.is_valid() ? static_cast<std::size_t>(PyDict_GET_SIZE(kw.ptr())) : 0;
  Stack stack(1 + args.size() + nkw);
  stack.push(obj);
  for (nb::handle a : args) stack.push(a);
  nb::object names;
  if (nkw) {
    names = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(nkw)));
    Py_ssize_t pos = 0, i = 0;
    PyObject *k, *v;
    while (PyDict_Next(kw.ptr(), &pos, &k, &v)) {
      PyTuple_SET_ITEM(names.ptr(), i++, Py_NewRef(k));
      stack.push(v);
    }
  }
  return stack.call(m.f, !m.unbound, 1 + args.size(), names);
}

nb::object call_method_kw(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args,
                          nb::handle kw) {
  if (!plain_keywords(kw)) {
    nb::object f = steal_or_throw(PyObject_GetAttr(obj.ptr(), name.ptr()));
    nb::object t = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    Py_ssize_t i = 0;
    for (nb::handle a : args) PyTuple_SET_ITEM(t.ptr(), i++, nb::borrow(a).release().ptr());
    return call_kw(f, t, kw);
  }
  // The keywords are read from a copy, which holds their values for the call
  // even if the callee changes the caller's dict.
  nb::object copy = PyDict_GET_SIZE(kw.ptr()) ? steal_or_throw(PyDict_Copy(kw.ptr())) : nb::object();
  return call_found(find_method(obj, name), obj, args, copy);
}

nb::object call_method(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args) {
  return call_found(find_method(obj, name), obj, args, nb::handle());
}

}  // namespace halvane::py
