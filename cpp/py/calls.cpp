// Calls with `**kw`.
#include "py/calls.hpp"
#include <vector>

namespace halvane::py {

namespace {

/// Whether `kw` is an exact dict with exact str keys, ready for a vectorcall.
bool plain_keywords(nb::handle kw) {
  if (!PyDict_CheckExact(kw.ptr())) return false;
  Py_ssize_t pos = 0;
  PyObject *k, *v;
  while (PyDict_Next(kw.ptr(), &pos, &k, &v))
    if (!PyUnicode_CheckExact(k)) return false;
  return true;
}

/// The dict that `**kw` makes, with the interpreter's message for a non-mapping.
nb::object unpack_keywords(nb::handle f, nb::handle kw) {
  nb::object d = steal_or_throw(PyDict_New());
  if (PyDict_Merge(d.ptr(), kw.ptr(), 1) < 0) {
    // The merge asks a non-mapping for keys(); the interpreter turns that
    // AttributeError into its own TypeError naming the callee.
    if (!PyDict_Check(kw.ptr()) && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      nb::object name = steal_or_throw(_PyObject_FunctionStr(f.ptr()));
      PyErr_Format(PyExc_TypeError, "%U argument after ** must be a mapping, not %.200s",
                   name.ptr(), Py_TYPE(kw.ptr())->tp_name);
    }
    rethrow();
  }
  return d;
}

}  // namespace

nb::object call_kw(nb::handle f, nb::handle args, nb::handle kw) {
  nb::object d = unpack_keywords(f, kw);
  return steal_or_throw(PyObject_Call(f.ptr(), args.ptr(), d.ptr()));
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
  // Slot 0 is free for the callee (PY_VECTORCALL_ARGUMENTS_OFFSET), slot 1 is self.
  // The keywords are read from a copy, which holds their values for the call
  // even if the callee changes the caller's dict.
  nb::object copy = PyDict_GET_SIZE(kw.ptr()) ? steal_or_throw(PyDict_Copy(kw.ptr())) : nb::object();
  Py_ssize_t nkw = copy.is_valid() ? PyDict_GET_SIZE(copy.ptr()) : 0;
  std::vector<PyObject *> stack;
  stack.reserve(2 + args.size() + static_cast<std::size_t>(nkw));
  stack.push_back(nullptr);
  stack.push_back(obj.ptr());
  for (nb::handle a : args) stack.push_back(a.ptr());
  nb::object names;
  if (nkw) {
    names = steal_or_throw(PyTuple_New(nkw));
    Py_ssize_t pos = 0, i = 0;
    PyObject *k, *v;
    while (PyDict_Next(copy.ptr(), &pos, &k, &v)) {
      PyTuple_SET_ITEM(names.ptr(), i++, Py_NewRef(k));
      stack.push_back(v);
    }
  }
  return steal_or_throw(PyObject_VectorcallMethod(name.ptr(), stack.data() + 1,
                                                  (1 + args.size()) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                  names.ptr()));
}

nb::object call_method(nb::handle obj, nb::handle name, std::initializer_list<nb::handle> args) {
  std::vector<PyObject *> stack;
  stack.reserve(2 + args.size());
  stack.push_back(nullptr);
  stack.push_back(obj.ptr());
  for (nb::handle a : args) stack.push_back(a.ptr());
  return steal_or_throw(PyObject_VectorcallMethod(name.ptr(), stack.data() + 1,
                                                  (1 + args.size()) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                  nullptr));
}

}  // namespace halvane::py
