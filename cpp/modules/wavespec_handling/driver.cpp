// halvane.wavespec_handling: the sampling driver pdc2pulse.
//
// Parse, then render: the set-up and every entry are read under the GIL in
// the driver's own order (driver_parse.cpp), the IIR stages are prepared,
// and then the grid, the samples of every entry and the filter are written
// by kernels::render with the GIL released, so that lines can be sampled
// from several threads. A rebound `fix` (or filter stage) runs afterwards
// through the interpreter on the rendered samples.
#include <cmath>
#include "modules/wavespec_handling/driver_parse.hpp"
#include "modules/wavespec_handling/filters.hpp"
#include "py/args.hpp"
#include "py/arith.hpp"
#include "py/mapping.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;
namespace hk = halvane::kernels;

namespace {

/// numpy.zeros(n, complex128).
nb::object zeros(Py_ssize_t n) {
  static nb::handle f = nb::object(hp::numpy().attr("zeros")).release();
  static nb::handle c128 = nb::object(hp::numpy().attr("complex128")).release();
  return f(n, c128);
}

/// The value that W.fill(gof) stores.
hk::cdouble fill_value(nb::handle gof) {
  if (hp::num_kind(gof) != hp::NumKind::other) return hp::to_complex(gof);
  nb::object one = hp::empty(1, hp::Dtype::complex128);
  one.attr("fill")(gof);
  return hp::own_view(one).cplx()[0];
}

/// The IIR stages of li['extra']: cal_iir_coef of every value, in order.
/// Returns the coefficient list, or nothing when `extra` is absent or not a dict.
std::optional<nb::list> iir_coefficients(nb::handle li) {
  if (!hp::contains(li, HV_KEY("extra"))) return std::nullopt;
  nb::object extra = hp::getitem(li, HV_KEY("extra"));
  if (!PyDict_Check(extra.ptr())) return std::nullopt;
  // The stages come from a second read of `extra`, as li['extra'].values().
  extra = hp::getitem(li, HV_KEY("extra"));
  nb::list iirs;
  for (nb::handle v : extra.attr("values")()) {
    iirs.append(names.call(CAL_IIR_COEF, [&] { return cal_iir_coef(v); }, v));
  }
  return iirs;
}

nb::object pdc2pulse(nb::handle pds, nb::handle li) {
  nb::object N = hp::getitem(li, HV_KEY("N"));
  nb::object srate = hp::getitem(li, HV_KEY("srate"));
  nb::object gof = hp::getitem(li, HV_KEY("offset_global"));
  nb::object tx_st = hp::get(li, HV_KEY("st"), nb::int_(0));
  nb::object tx_ed = hp::add(tx_st, hp::truediv(N, srate));

  nb::object count = hp::steal_or_throw(PyNumber_Index(N.ptr()));
  if (PyObject_RichCompareBool(count.ptr(), nb::int_(0).ptr(), Py_LT) == 1) {
    PyErr_Format(PyExc_ValueError, "Number of samples, %S, must be non-negative.", count.ptr());
    hp::rethrow();
  }
  nb::object X = hp::empty(count, hp::Dtype::float64);  // numpy's MemoryError when too large
  const Py_ssize_t n = PyLong_AsSsize_t(count.ptr());
  // W.fill(gof) comes after the allocations, so a bad gof raises after them.
  std::optional<hk::cdouble> rest;
  std::optional<nb::python_error> bad_rest;
  try {
    rest = fill_value(gof);
  } catch (nb::python_error &e) {
    bad_rest.emplace(std::move(e));
  }
  // A line resting at +0 takes arrays zeroed by the allocator (memory fresh
  // from the kernel is zero already) and writes only the samples its entries
  // touch; any other level is written once, while the GIL is released.
  const bool zeroed = rest && *rest == hk::cdouble{} && !std::signbit(rest->real()) &&
                      !std::signbit(rest->imag());
  nb::object W = zeroed ? zeros(n) : hp::empty(n, hp::Dtype::complex128);
  nb::object S = zeroed ? zeros(n) : hp::empty(n, hp::Dtype::complex128);
  if (bad_rest) throw std::move(*bad_rest);

  hk::Line line{static_cast<std::size_t>(n), hp::own_view(X).real(), hp::own_view(W).cplx(),
                hp::own_view(S).cplx(), false, zeroed, hp::to_double(tx_st), hp::to_double(tx_ed),
                0, *rest};
  LineParser parser(line, X, N, srate, tx_st, gof);

  if (PyList_CheckExact(pds.ptr()) || PyTuple_CheckExact(pds.ptr()))
    parser.plan.pulses.reserve(static_cast<std::size_t>(Py_SIZE(pds.ptr())));
  nb::object it = hp::steal_or_throw(PyObject_GetIter(pds.ptr()));
  std::size_t order = 0;
  while (PyObject *pd = PyIter_Next(it.ptr())) parser.entry(nb::steal(pd), order++);
  if (PyErr_Occurred()) hp::rethrow();

  std::optional<nb::list> iirs = iir_coefficients(li);
  bool python_fix = false;
  if (iirs) {
    python_fix = !names.original(FIX);
    for (nb::handle F : *iirs) {
      if (python_fix) break;
      if (auto stage = native_stage(F))
        parser.plan.stages.push_back(*stage);
      else
        python_fix = true;
    }
    parser.plan.filter = !python_fix;
  }

  {
    // Only raw buffers of arrays held above are touched while rendering.
    nb::gil_scoped_release nogil;
    hk::render(line, parser.plan);
  }

  if (python_fix) {
    nb::object fix = names.current(FIX);
    nb::object dev = hp::subtract(hp::numpy().attr("copy")(W), gof);
    nb::object filtered = hp::add(fix(X, dev, *iirs, nb::none()), gof);
    nb::object all = hp::steal_or_throw(PySlice_New(nullptr, nullptr, nullptr));
    if (PyObject_SetItem(W.ptr(), all.ptr(), filtered.ptr()) < 0) hp::rethrow();
  }
  return nb::make_tuple(X, W, S);
}

}  // namespace

void export_driver(nb::module_ &m) {
  m.def("pdc2pulse", &pdc2pulse, hp::arg("pds"), hp::arg("li"),
        nb::sig("def pdc2pulse(pds: typing.Iterable[dict], li: typing.Mapping) "
                "-> tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray]"),
        "Sample one control line's pulse descriptions.\n\n"
        "Parameters\n----------\n"
        "pds : iterable of dict\n"
        "    Pulse descriptions, processed in order. An entry with ``edge_shape``\n"
        "    is a level step: from its start on, the line moves to ``amp`` through\n"
        "    the edge and holds it, replacing what earlier entries wrote. Any other\n"
        "    entry is a pulse: its envelope (``shape`` by name in ``shapeTable`` or\n"
        "    a callable ``shape(X, pd, {})``), corrected by DRAG (``drag_scale``,\n"
        "    then each of ``drag_list``), rotated by ``amp_scale *\n"
        "    exp(1j*(phase + phase1))`` and the ``drag_detuning`` ramp about its\n"
        "    centre, is added to S and, times ``carrier(X, freq, 0, 0)``, to W.\n"
        "li : mapping\n"
        "    The sampling record: ``N`` samples at ``srate`` samples per second from\n"
        "    ``st`` (default 0), resting level ``offset_global``, and optionally\n"
        "    ``extra``, a dict of IIR models ``[A, B, tau, Ts]`` run over W's\n"
        "    deviation from ``offset_global``.\n\n"
        "Returns\n-------\ntuple of numpy.ndarray\n"
        "    ``(X, W, S)``: the sample times, the modulated line signal and the\n"
        "    envelope signal (complex128). Neither ``pds`` nor ``li`` is modified.");
}

}  // namespace halvane::wavespec_handling
