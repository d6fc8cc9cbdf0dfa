// How a WaveSpec shows itself: its pulse count and window.
#include <string>
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::wavespec {
namespace nb = nanobind;
namespace hp = halvane::py;

namespace {

/// <WaveSpec: 3 pulses, window 0 .. 50 µs>
nb::str wavespec_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    std::string text = hp::cat("<", hp::class_name(self), ": ");
    nb::object pds = hp::attr_or_none(self, "pds");
    Py_ssize_t n = pds.is_valid() ? PyObject_Length(pds.ptr()) : -1;
    if (n < 0) {
      PyErr_Clear();
      text += pds.is_valid() ? hp::cat("pulses in a ", hp::class_name(pds)) : "no pulses";
    } else {
      text += std::to_string(n) + (n == 1 ? " pulse" : " pulses");
    }
    nb::object start = hp::attr_or_none(self, "start"), stop = hp::attr_or_none(self, "stop");
    auto a = start.is_valid() ? hp::real_value(start) : std::nullopt;
    auto b = stop.is_valid() ? hp::real_value(stop) : std::nullopt;
    if (a && b) text += hp::cat(", window ", hp::span_text(*a, *b));
    else if (start.is_valid() && stop.is_valid())
      text += hp::cat(", window ", hp::safe_repr(start), " .. ", hp::safe_repr(stop));
    return hp::cat(text, ">");
  });
}

}  // namespace

void def_repr(nb::handle cls) {
  hp::def_method(cls, "__repr__", &wavespec_repr, nb::sig("def __repr__(self) -> str"),
                 "``<WaveSpec: 3 pulses, window 0 .. 50 µs>``.");
}

}  // namespace halvane::wavespec
