// `for` loops over lists, tuples, dicts and any other iterable or mapping.
//
// Lists and tuples are walked by index (a list's length is read again at
// every step, as its iterator does); loops over lists and iterators check for
// signals at every step, as the interpreter's own loop does; an exact dict is walked in place and,
// like the interpreter, refuses to go on when it changes size; everything
// else goes through the iterator protocol or its items()/values() method.
// Each element is held while the body runs, so the body may change the
// container without pulling an element from under itself.
#pragma once
#include "py/calls.hpp"
#include "py/mapping.hpp"
#include "py/unpack.hpp"

namespace halvane::py {

/// for x in iterable: body(x)
template <typename Body>
void for_each(nb::handle iterable, Body &&body) {
  PyObject *o = iterable.ptr();
  if (PyList_CheckExact(o)) {
    // A list may grow under the body, so its loop checks for signals too.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
      check_signals();
      body(nb::borrow(PyList_GET_ITEM(o, i)));
    }
    return;
  }
  if (PyTuple_CheckExact(o)) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(o); ++i) body(nb::borrow(PyTuple_GET_ITEM(o, i)));
    return;
  }
  nb::object it = steal_or_throw(PyObject_GetIter(o));
  while (PyObject *x = PyIter_Next(it.ptr())) {
    nb::object held = nb::steal(x);
    check_signals();
    body(held);
  }
  if (PyErr_Occurred()) rethrow();
}

namespace detail {
[[noreturn]] inline void changed_size() {
  raise(PyExc_RuntimeError, "dictionary changed size during iteration");
}
}  // namespace detail

/// for k, v in mapping.items(): body(k, v)
template <typename Body>
void for_items(nb::handle mapping, Body &&body) {
  PyObject *d = mapping.ptr();
  if (PyDict_CheckExact(d)) {
    Py_ssize_t pos = 0, size = PyDict_GET_SIZE(d);
    PyObject *k, *v;
    while (PyDict_Next(d, &pos, &k, &v)) {
      body(nb::borrow(k), nb::borrow(v));
      if (PyDict_GET_SIZE(d) != size) detail::changed_size();
    }
    return;
  }
  for_each(call_method(mapping, HV_KEY("items")), [&](nb::object item) {
    auto [k, v] = unpack<2>(item);
    body(k, v);
  });
}

/// for v in mapping.values(): body(v)
template <typename Body>
void for_values(nb::handle mapping, Body &&body) {
  PyObject *d = mapping.ptr();
  if (PyDict_CheckExact(d)) {
    Py_ssize_t pos = 0, size = PyDict_GET_SIZE(d);
    PyObject *k, *v;
    while (PyDict_Next(d, &pos, &k, &v)) {
      body(nb::borrow(v));
      if (PyDict_GET_SIZE(d) != size) detail::changed_size();
    }
    return;
  }
  for_each(call_method(mapping, HV_KEY("values")), body);
}

}  // namespace halvane::py
