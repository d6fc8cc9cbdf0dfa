// print() from C++.
#include "py/output.hpp"
#include <vector>
#include "py/mapping.hpp"

namespace halvane::py {

void print(std::initializer_list<nb::handle> items) {
  nb::object f = getitem(PyEval_GetBuiltins(), HV_KEY("print"));
  std::vector<PyObject *> args;
  for (nb::handle h : items) args.push_back(h.ptr());
  steal_or_throw(PyObject_Vectorcall(f.ptr(), args.data(), args.size(), nullptr));
}

}  // namespace halvane::py
