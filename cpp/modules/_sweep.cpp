// halvane._sweep: the native loops of halvane.sweep, a Python module.
#include <vector>
#include "kernels/iir_response.hpp"
#include "py/args.hpp"
#include "py/module.hpp"
#include "py/numbers.hpp"
#include "py/out_arrays.hpp"
#include "py/unpack.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;
namespace hk = halvane::kernels;

namespace {

/// A contiguous complex128 array, read or written.
hp::ArrayView complex_array(nb::handle a, const char *what, bool writable) {
  auto v = hp::view(a, writable);
  if (!v || v->dtype != hp::Dtype::complex128 || v->stride != 1) {
    PyErr_Format(PyExc_TypeError, "%s must be a contiguous%s complex128 array", what, writable ? ", writeable" : "");
    hp::rethrow();
  }
  return *v;
}

void add_filtered(nb::handle out, nb::handle rest, Py_ssize_t start, nb::handle x, nb::handle stages,
                  double negligible) {
  hp::ArrayView o = complex_array(out, "out", true), r = complex_array(rest, "rest", false),
                v = complex_array(x, "x", false);
  if (o.size != r.size || start < 0 || start > o.size || v.size > o.size - start)
    hp::raise(PyExc_ValueError, "add_filtered: out and rest differ in length, or x does not fit from start");
  const auto *olo = reinterpret_cast<const char *>(o.cplx()), *rlo = reinterpret_cast<const char *>(r.cplx());
  const auto bytes = static_cast<std::size_t>(o.size) * sizeof(hk::cdouble);
  if (bytes && olo != rlo && olo < rlo + bytes && rlo < olo + bytes)
    hp::raise(PyExc_ValueError, "add_filtered: out overlaps rest, other than being the same samples");
  std::vector<hk::IirStage> st;
  for (nb::handle s : stages) {
    auto [b0, b1, a1] = hp::unpack<3>(s);
    st.push_back({hp::to_complex(b0), hp::to_complex(b1), hp::to_complex(a1)});
  }
  const auto n = static_cast<std::size_t>(o.size - start);
  nb::gil_scoped_release unlocked;  // plain arrays from here on
  hk::iir_add_response(st.data(), st.size(), v.cplx(), static_cast<std::size_t>(v.size), r.cplx() + start,
                       o.cplx() + start, n, negligible);
}

nb::dict check_out(nb::handle out, nb::handle lengths) {
  hp::check_out_mapping(out);
  nb::list names;
  std::vector<hp::OutSpan> spans;
  nb::dict pairs;
  for (nb::handle name : out) {
    int known = PySequence_Contains(lengths.ptr(), name.ptr());
    if (known < 0) hp::rethrow();
    if (!known) {
      PyErr_Format(PyExc_ValueError, "out names line %R, which no axis of the sweep changes", name.ptr());
      hp::rethrow();
    }
    auto pair = hp::out_pair(out, name);
    const Py_ssize_t n = PyLong_AsSsize_t(nb::object(lengths[name]).ptr());
    if (n < 0 && PyErr_Occurred()) hp::rethrow();
    hp::check_out_pair(pair->first, pair->second, n, name);
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(hk::cdouble);
    for (nb::handle a : {pair->first, pair->second}) {
      const char *lo = static_cast<const char *>(hp::view(a, true)->data);
      if (bytes) spans.push_back({lo, lo + bytes, static_cast<std::size_t>(PyList_GET_SIZE(names.ptr()))});
    }
    names.append(name);
    pairs[name] = nb::make_tuple(pair->first, pair->second);
  }
  hp::check_disjoint(std::move(spans), names);
  return pairs;
}

}  // namespace

NB_MODULE(_sweep, m) {
  m.doc() = "The native loops of halvane.sweep.";
  m.def("add_filtered", &add_filtered, hp::arg("out"), hp::arg("rest"), hp::arg("start"), hp::arg("x"),
        hp::arg("stages"), hp::arg("negligible") = 0.0,
        nb::sig("def add_filtered(out: numpy.ndarray, rest: numpy.ndarray, start: int, x: numpy.ndarray, "
                "stages: typing.Sequence[tuple[complex, complex, complex]], negligible: float = 0.0) -> None"),
        "``out[start:] = rest[start:] + y``, with y the response from rest of the IIR\n"
        "stages (b0, b1, a1) to ``x`` followed by zeros; ``out`` may be ``rest``.\n"
        "States below ``negligible`` (and below 2**-900) are taken as 0; when ``out``\n"
        "is ``rest``, the response ends there.");
  m.def("check_out", &check_out, hp::arg("out"), hp::arg("lengths"),
        nb::sig("def check_out(out: typing.Mapping, lengths: typing.Mapping) -> dict"),
        "The pairs (W, S) of ``out``, checked as ``sample_lines`` checks them, for\n"
        "lines of the lengths given (no other line may be named).");
  hp::finish_module(m);
}
