// halvane._export: the native loops of halvane.export (samples to DAC codes).
// The Python module validates the arguments and makes the arrays; this one
// checks the memory it is handed once more, as buffers held for the call.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>
#include "kernels/quantize.hpp"
#include "py/args.hpp"
#include "py/module.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/samples.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;
namespace hk = halvane::kernels;

namespace {

[[noreturn]] void value_error(const char *msg) { hp::raise(PyExc_ValueError, msg); }

/// Run the kernel for the code type that `out` holds: signed for two's
/// complement, unsigned for offset binary, at least `bits` wide.
template <typename F>
void with_code_type(const hp::HeldBuffer &out, int bits, bool offset_binary, F &&f) {
  const bool is_signed = std::strchr("bhilq", out.code()) != nullptr;
  const bool is_unsigned = std::strchr("BHILQ", out.code()) != nullptr;
  if (out.code() == 0 || !(offset_binary ? is_unsigned : is_signed) || out.itemsize() * 8 < bits)
    value_error(offset_binary ? "out must be an unsigned integer array wide enough for the codes"
                              : "out must be a signed integer array wide enough for the codes");
  void *p = out.data();
  switch (out.itemsize() * (offset_binary ? -1 : 1)) {
    case 1: return f(static_cast<std::int8_t *>(p));
    case 2: return f(static_cast<std::int16_t *>(p));
    case 4: return f(static_cast<std::int32_t *>(p));
    case -1: return f(static_cast<std::uint8_t *>(p));
    case -2: return f(static_cast<std::uint16_t *>(p));
    case -4: return f(static_cast<std::uint32_t *>(p));
    default: value_error("out must hold codes of 8, 16 or 32 bits");
  }
}

nb::list quantize(nb::handle x, nb::handle out, Py_ssize_t channels, nb::handle offset, nb::handle full_scale,
                  int bits, bool offset_binary) {
  const double off = hp::to_double(offset), fs = hp::to_double(full_scale);
  if (bits < 2 || bits > 32) value_error("bits must be from 2 to 32");
  if (!(fs > 0) || !std::isfinite(fs)) value_error("full_scale must be a positive finite number");
  if (!std::isfinite(off)) value_error("offset must be a finite number");
  if (channels != 1 && channels != 2) value_error("channels must be 1 or 2");
  hp::HeldBuffer xs(x, false, "x"), codes(out, true, "out");
  if (xs.code() != 'd' || xs.itemsize() != 8) value_error("x must be a float64 array");
  const Py_ssize_t n = xs.count();
  if (n % channels != 0) value_error("x must hold a whole number of samples of every channel");
  if (codes.count() != n) value_error("out must have one code per value of x");
  const double half = std::ldexp(1.0, bits - 1);
  const hk::QuantizeMap map{off, fs, half - 1, offset_binary ? half : 0.0};
  std::vector<hk::ChannelReport> reports(static_cast<std::size_t>(channels));
  with_code_type(codes, bits, offset_binary, [&](auto *data) {
    // The held buffers keep both arrays' memory; the kernel touches no Python object.
    hp::run_kernel(static_cast<std::size_t>(n), [&] {
      hk::quantize(static_cast<const double *>(xs.data()), static_cast<std::size_t>(n),
                   static_cast<std::size_t>(channels), map, data, reports.data());
    });
  });
  nb::list result;
  for (const hk::ChannelReport &r : reports) {
    nb::list first;
    for (std::size_t i = 0; i < r.nfirst; ++i) first.append(r.first[i]);
    result.append(nb::make_tuple(r.clipped, r.nonfinite, r.peak, first));
  }
  return result;
}

}  // namespace

NB_MODULE(_export, m) {
  m.doc() = "The native loops of halvane.export; use that module.";
  m.def("quantize", &quantize, hp::arg("x"), hp::arg("out"), nb::arg("channels"), hp::arg("offset"),
        hp::arg("full_scale"), nb::arg("bits"), nb::arg("offset_binary"),
        nb::sig("def quantize(x: numpy.ndarray, out: numpy.ndarray, channels: int, offset: float, "
                "full_scale: float, bits: int, offset_binary: bool) -> list[tuple[int, int, float, list[int]]]"),
        "Quantize the float64 values of ``x`` into the integer array ``out``.\n\n"
        "``x`` holds ``channels`` interleaved channels. Each value v becomes\n"
        "``rint((v + offset) * (2**(bits-1) - 1) / full_scale)``, saturated at\n"
        "``±(2**(bits-1) - 1)``, plus ``2**(bits-1)`` for offset binary; NaN and\n"
        "infinities become the code of 0. Returns, per channel, the number of\n"
        "clipped values, of non-finite values, the largest ``|v + offset|``\n"
        "among the clipped ones, and the sample indices of the first clipped ones.");
  halvane::py::finish_module(m);
}
