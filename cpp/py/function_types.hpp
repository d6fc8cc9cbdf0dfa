// nanobind's function types in halvane's own domain, which pickling and
// signature publishing extend.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::py {
namespace nb = nanobind;

/// nanobind's three function types in halvane's own domain: functions,
/// methods, and methods bound to an instance.
struct FunctionTypes {
  PyTypeObject *function, *method, *bound;
};
FunctionTypes function_types();

}  // namespace halvane::py
