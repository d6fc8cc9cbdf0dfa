// Splitting, joining and routing of double-underscore keyword names.
#include "domain/routing.hpp"
#include "py/mapping.hpp"

namespace halvane::domain {
using namespace halvane::py;

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

namespace {

/// Where the parts of a name lie, as u2split would cut it: the first
/// non-empty part, and the span from the second one to the last one.
struct Parts {
  Py_ssize_t count = 0;  ///< non-empty parts, counted up to 2
  Py_ssize_t head_start = 0, head_end = 0;
  Py_ssize_t rest_start = 0, rest_end = 0;
  /// An empty part lies inside the span, so the span is not the joined rest.
  bool gapped = false;
};

Parts scan_parts(PyObject *k) {
  Parts p;
  const Py_ssize_t n = PyUnicode_GET_LENGTH(k);
  const int kind = PyUnicode_KIND(k);
  const void *data = PyUnicode_DATA(k);
  bool pending_gap = false;
  Py_ssize_t start = 0;
  while (true) {
    // The next "__" from `start`, found left to right as str.split finds it.
    Py_ssize_t end = start;
    while (end + 1 < n && !(PyUnicode_READ(kind, data, end) == '_' && PyUnicode_READ(kind, data, end + 1) == '_'))
      ++end;
    bool last = end + 1 >= n;
    if (last) end = n;
    if (end == start) {
      if (p.count >= 2) pending_gap = true;
    } else if (p.count == 0) {
      p.count = 1;
      p.head_start = start;
      p.head_end = end;
    } else {
      if (p.count == 1) {
        p.count = 2;
        p.rest_start = start;
      } else if (pending_gap) {
        p.gapped = true;
      }
      p.rest_end = end;
    }
    if (last) return p;
    start = end + 2;
  }
}

bool head_is(PyObject *k, const Parts &p, nb::handle w) {
  const Py_ssize_t len = p.head_end - p.head_start;
  if (PyUnicode_GET_LENGTH(w.ptr()) != len) return false;
  const int kk = PyUnicode_KIND(k), wk = PyUnicode_KIND(w.ptr());
  const void *kd = PyUnicode_DATA(k), *wd = PyUnicode_DATA(w.ptr());
  for (Py_ssize_t i = 0; i < len; ++i)
    if (PyUnicode_READ(kk, kd, p.head_start + i) != PyUnicode_READ(wk, wd, i)) return false;
  return true;
}

}  // namespace

nb::dict catch_kw(nb::handle kwds, nb::handle w) {
  check_arg(kwds, &PyDict_Type, "kwds", /*exact=*/true);
  check_arg(w, &PyUnicode_Type, "w");
  nb::dict kw;
  // Later entries overwrite earlier ones under the same name: order is precedence.
  for (auto [k, v] : nb::borrow<nb::dict>(kwds)) {
    // Held, not borrowed: a user's __eq__ below may change the dict.
    nb::object key = nb::borrow(k), value = nb::borrow(v);
    // Only a str has parts; u2split reports anything else.
    if (!PyUnicode_Check(key.ptr())) u2split(key);
    Parts p = scan_parts(key.ptr());
    if (p.count == 1) {
      setitem(kw, key, value);
      continue;
    }
    if (p.count == 0) raise(PyExc_IndexError, "list index out of range");
    bool matches;
    if (PyUnicode_CheckExact(w.ptr())) {
      matches = head_is(key.ptr(), p, w);
    } else {
      // A str subclass may compare in its own way.
      nb::object head = steal_or_throw(PyUnicode_Substring(key.ptr(), p.head_start, p.head_end));
      matches = equals(head, w);
    }
    if (matches || (p.head_end - p.head_start == 1 &&
                    PyUnicode_READ_CHAR(key.ptr(), p.head_start) == 'X')) {
      nb::object rest;
      if (p.gapped) {
        nb::list ks = u2split(key);
        rest = join_kw(steal_or_throw(PyList_GetSlice(ks.ptr(), 1, PyList_GET_SIZE(ks.ptr()))));
      } else {
        rest = steal_or_throw(PyUnicode_Substring(key.ptr(), p.rest_start, p.rest_end));
      }
      setitem(kw, rest, value);
    }
  }
  return kw;
}

}  // namespace halvane::domain
