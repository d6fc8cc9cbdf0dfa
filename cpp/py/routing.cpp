// Splitting, joining and routing of double-underscore keyword names.
#include "py/routing.hpp"
#include "py/mapping.hpp"

namespace halvane::py {

nb::list u2split(nb::handle k) {
  check_arg(k, &PyUnicode_Type, "k");
  nb::object parts = steal_or_throw(PyUnicode_Split(k.ptr(), HV_KEY("__").ptr(), -1));
  nb::list out;
  for (nb::handle p : parts)
    if (PyUnicode_GET_LENGTH(p.ptr()) != 0) out.append(p);
  return out;
}

nb::object join_kw(nb::handle s) {
  check_arg(s, &PyList_Type, "s");
  nb::object r = nb::str("");
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(s.ptr()); ++i) {
    r = steal_or_throw(PyNumber_InPlaceAdd(r.ptr(), PyList_GET_ITEM(s.ptr(), i)));
    if (i != PyList_GET_SIZE(s.ptr()) - 1)
      r = steal_or_throw(PyNumber_InPlaceAdd(r.ptr(), HV_KEY("__").ptr()));
  }
  return r;
}

static bool equals(nb::handle a, nb::handle b) {
  int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
  if (r < 0) rethrow();
  return r == 1;
}

nb::dict catch_kw(nb::handle kwds, nb::handle w) {
  check_arg(kwds, &PyDict_Type, "kwds", /*exact=*/true);
  check_arg(w, &PyUnicode_Type, "w");
  nb::dict kw;
  // Later entries overwrite earlier ones under the same name: order is precedence.
  for (auto [k, v] : nb::borrow<nb::dict>(kwds)) {
    // Held, not borrowed: a user's __eq__ below may change the dict.
    nb::object key = nb::borrow(k), value = nb::borrow(v);
    nb::list ks = u2split(key);
    Py_ssize_t n = PyList_GET_SIZE(ks.ptr());
    if (n == 1) {
      setitem(kw, key, value);
      continue;
    }
    if (n == 0) raise(PyExc_IndexError, "list index out of range");
    nb::handle head = PyList_GET_ITEM(ks.ptr(), 0);
    if (equals(head, w) || equals(head, HV_KEY("X"))) {
      nb::object rest = steal_or_throw(PyList_GetSlice(ks.ptr(), 1, n));
      setitem(kw, join_kw(rest), value);
    }
  }
  return kw;
}

}  // namespace halvane::py
