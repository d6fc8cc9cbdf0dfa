// Python numbers (int, float, complex, numpy scalars) as C++ values.
#pragma once
#include <complex>
#include "py/errors.hpp"

namespace halvane::py {

/// A real number as double; TypeError for anything that is not a real number.
inline double to_double(nb::handle v) {
  if (PyFloat_CheckExact(v.ptr())) return PyFloat_AS_DOUBLE(v.ptr());
  double d = PyFloat_AsDouble(v.ptr());
  if (d == -1.0 && PyErr_Occurred()) rethrow();
  return d;
}

/// A real or complex number as std::complex<double>; TypeError otherwise.
inline std::complex<double> to_complex(nb::handle v) {
  if (PyFloat_CheckExact(v.ptr())) return {PyFloat_AS_DOUBLE(v.ptr()), 0.0};
  Py_complex c = PyComplex_AsCComplex(v.ptr());
  if (c.real == -1.0 && PyErr_Occurred()) rethrow();
  return {c.real, c.imag};
}

}  // namespace halvane::py
