// Type-tag tests.
#include "domain/tags.hpp"
#include "py/classes.hpp"

namespace halvane::domain {
using namespace halvane::py;

nb::object tag_equals(nb::handle w, nb::handle tag, nb::handle t) {
  nb::object v = getattr_or_null(w, tag);
  if (!v.is_valid()) return nb::borrow(Py_False);
  return steal_or_throw(PyObject_RichCompare(v.ptr(), t.ptr(), Py_EQ));
}

bool tag_in(nb::handle w, nb::handle tag, nb::handle L) {
  nb::object v = getattr_or_null(w, tag);
  if (!v.is_valid()) return false;
  int r = PySequence_Contains(L.ptr(), v.ptr());
  if (r < 0) rethrow();
  return r == 1;
}

bool tag_is(nb::handle w, nb::handle tag, nb::handle t) {
  nb::object r = tag_equals(w, tag, t);
  int b = PyObject_IsTrue(r.ptr());
  if (b < 0) rethrow();
  return b == 1;
}

}  // namespace halvane::domain
