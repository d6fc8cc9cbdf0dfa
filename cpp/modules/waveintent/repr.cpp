// How a recipe shows itself: its class and class keywords, X_p(amp=0.3).
#include <string>
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::waveintent {
namespace nb = nanobind;
namespace hp = halvane::py;

namespace {

nb::str recipe_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    hp::ReprGuard guard(self);
    std::string name = hp::class_name(self);
    if (!guard.entered()) return hp::cat(name, "(...)");
    std::string args;
    nb::object kw = hp::attr_or_none(self, "kw");
    if (kw.is_valid() && PyDict_Check(kw.ptr())) {
      // A snapshot of the items: a repr of a value may run code that changes the dict.
      nb::object items = hp::steal_or_throw(PyDict_Items(kw.ptr()));
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.ptr()); ++i) {
        PyObject *kv = PyList_GET_ITEM(items.ptr(), i);
        args += hp::cat(i ? ", " : "", hp::safe_str(PyTuple_GET_ITEM(kv, 0)), "=",
                        hp::safe_repr(PyTuple_GET_ITEM(kv, 1)));
      }
    } else if (kw.is_valid()) {
      args = hp::cat("**", hp::safe_repr(kw));
    }
    return hp::cat(name, "(", args, ")");
  });
}

}  // namespace

void def_repr(nb::handle cls) {
  hp::def_method(cls, "__repr__", &recipe_repr, nb::sig("def __repr__(self) -> str"),
                 "The class name and class keywords: ``X_p(amp=0.3)``.");
}

}  // namespace halvane::waveintent
