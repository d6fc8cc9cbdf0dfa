// numpy's C API, for the sources of halvane_py that need it: the memory-
// handler interface (buffer_cache.cpp) and the array's own fields
// (ndarrays.cpp), read from the array object rather than through Python
// attributes or the buffer protocol, which a subclass may override.
//
// Each source that includes this header has its own copy of the API table,
// imported by import_numpy_api() on first use.
#pragma once
#include "py/errors.hpp"

#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#define NPY_NO_DEPRECATED_API NPY_1_22_API_VERSION
#include <numpy/arrayobject.h>

namespace halvane::py {
namespace {

/// Import numpy's C API into this source's table, once; raises on failure.
inline void import_numpy_api() {
  if (PyArray_API == nullptr && _import_array() < 0) rethrow();
}

}  // namespace
}  // namespace halvane::py
