// SignalWatch: see signals.hpp.
#include "py/signals.hpp"

namespace halvane::py {

namespace {

bool on_main_thread() {
  static nb::handle main_thread = nb::object(nb::module_::import_("threading").attr("main_thread")).release();
  nb::object ident = main_thread().attr("ident");
  return PyLong_AsUnsignedLong(ident.ptr()) == PyThread_get_thread_ident() && !PyErr_Occurred();
}

}  // namespace

SignalWatch::SignalWatch() : main_(on_main_thread()), next_(std::chrono::steady_clock::now() + interval) {
  PyErr_Clear();
}

SignalWatch::~SignalWatch() {
  if (!type_) return;
  nb::gil_scoped_acquire gil;  // an exception that was never raised
  Py_XDECREF(type_);
  Py_XDECREF(value_);
  Py_XDECREF(trace_);
}

bool SignalWatch::poll() {
  if (stopped()) return true;
  if (!main_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return false;
  next_ = now + interval;
  nb::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() < 0) {
    PyErr_Fetch(&type_, &value_, &trace_);
    stop();
  }
  return stopped();
}

void SignalWatch::raise_if_stopped() {
  if (!type_) return;
  PyErr_Restore(type_, value_, trace_);
  type_ = value_ = trace_ = nullptr;
  rethrow();
}

}  // namespace halvane::py
