// Text forms for __repr__ (see reprs.hpp).
#include "py/reprs.hpp"
#include <cmath>
#include <cstdio>
#include <cstring>

namespace halvane::py {
namespace {

/// The text as UTF-8 (a lone surrogate as a backslash escape); takes the reference.
std::string utf8(PyObject *text) {
  if (!text) return {};
  std::string r;
  if (PyObject *bytes = PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace")) {
    r.assign(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
  } else {
    PyErr_Clear();
  }
  Py_DECREF(text);
  return r;
}

/// A numpy scalar (or 0-d array): a numpy type whose ndim is 0.
bool is_numpy_scalar(nb::handle v) {
  if (std::strncmp(Py_TYPE(v.ptr())->tp_name, "numpy.", 6) != 0) return false;
  PyObject *ndim = PyObject_GetAttrString(v.ptr(), "ndim");
  if (!ndim) {
    PyErr_Clear();
    return false;
  }
  bool zero = PyLong_Check(ndim) && PyLong_AsLong(ndim) == 0;
  Py_DECREF(ndim);
  return zero;
}

}  // namespace

std::string object_text(nb::handle v) {
  std::string text(1, '<');
  text.append(class_name(v)).append(" object>");
  return text;
}

std::string class_name(nb::handle v) {
  std::string name = utf8(PyType_GetName(Py_TYPE(v.ptr())));
  return name.empty() ? std::string("object") : name;
}

std::string safe_repr(nb::handle v) {
  nb::object shown = nb::borrow(v);
  if (is_numpy_scalar(v)) {
    if (PyObject *item = PyObject_CallMethod(v.ptr(), "item", nullptr)) shown = nb::steal(item);
    else PyErr_Clear();
  }
  PyObject *text = PyObject_Repr(shown.ptr());
  if (!text) {
    PyErr_Clear();
    return object_text(v);
  }
  return utf8(text);
}

std::string safe_str(nb::handle v) {
  PyObject *text = PyObject_Str(v.ptr());
  if (!text) {
    PyErr_Clear();
    return object_text(v);
  }
  return utf8(text);
}

nb::object attr_or_none(nb::handle obj, const char *name) {
  PyObject *v = PyObject_GetAttrString(obj.ptr(), name);
  if (!v) PyErr_Clear();
  return nb::steal(v);
}

std::optional<double> real_value(nb::handle v) {
  PyObject *o = v.ptr();
  if (PyFloat_Check(o)) return PyFloat_AS_DOUBLE(o);
  // A complex numpy scalar would convert with a warning, and lose its imaginary part.
  if (PyLong_Check(o) || (is_numpy_scalar(v) && !std::strstr(Py_TYPE(o)->tp_name, "complex"))) {
    double d = PyFloat_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();  // an int too large for a float
      return std::nullopt;
    }
    return d;
  }
  return std::nullopt;
}

std::string span_text(double a, double b) {
  double m = std::fmax(std::fabs(a), std::fabs(b));
  const char *unit = "ns";
  double scale = 1e-9;
  if (m >= 1) unit = "s", scale = 1;
  else if (m >= 1e-3) unit = "ms", scale = 1e-3;
  else if (m >= 1e-6) unit = "\xc2\xb5s", scale = 1e-6;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.6g .. %.6g %s", a / scale, b / scale, unit);
  return buf;
}

}  // namespace halvane::py
