// halvane.wavespec_handling: the sampling driver pdc2pulse.
//
// Parse, then render: the set-up and every entry are read under the GIL in
// the driver's own order (driver_parse.cpp), the IIR stages are prepared,
// and then the grid, the samples of every entry and the filter are written
// by kernels::render with the GIL released, so that lines can be sampled
// from several threads. A rebound `fix` (or filter stage) runs afterwards
// through the interpreter on the rendered samples.
#include <cmath>
#include "modules/wavespec_handling/driver.hpp"
#include "modules/wavespec_handling/filters.hpp"
#include "modules/wavespec_handling/notes.hpp"
#include "py/args.hpp"
#include "py/buffer_cache.hpp"
#include "domain/reals.hpp"
#include "py/arith.hpp"
#include "py/mapping.hpp"
#include "py/ndarrays.hpp"
#include "py/numbers.hpp"
#include "py/signals.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;
namespace hd = halvane::domain;
namespace hk = halvane::kernels;

namespace {

/// numpy.zeros(n, complex128).
nb::object zeros(Py_ssize_t n) { return hp::zeros(n, hp::Dtype::complex128); }

/// The value that W.fill(gof) stores.
hk::cdouble fill_value(nb::handle gof) {
  if (hp::num_kind(gof) != hp::NumKind::other) return hp::to_complex(gof);
  nb::object one = hp::empty(1, hp::Dtype::complex128);
  one.attr("fill")(gof);
  return hp::own_view(one).cplx()[0];
}

/// The IIR stages of li['extra']: cal_iir_coef of every value, in order.
/// Returns the coefficient list, or nothing when `extra` is absent or None.
/// Anything else that is not a dict is refused rather than ignored, since the
/// caller believes the line pre-distorted.
std::optional<nb::list> iir_coefficients(nb::handle li) {
  if (!hp::contains(li, HV_KEY("extra"))) return std::nullopt;
  nb::object extra = hp::getitem(li, HV_KEY("extra"));
  if (extra.is_none()) return std::nullopt;
  if (!PyDict_Check(extra.ptr())) {
    PyErr_Format(PyExc_TypeError, "li['extra'] must be a dict of IIR models or None, not %.200s",
                 Py_TYPE(extra.ptr())->tp_name);
    hp::rethrow();
  }
  // The stages come from a second read of `extra`, as li['extra'].values().
  extra = hp::getitem(li, HV_KEY("extra"));
  nb::list iirs;
  for (nb::handle v : extra.attr("values")()) {
    iirs.append(names.call(CAL_IIR_COEF, [&] { return cal_iir_coef(v); }, v));
  }
  return iirs;
}

/// li[key] of a key every sampling record has, with a note naming them all
/// when the record lacks it.
nb::object record_item(nb::handle li, nb::handle key) {
  try {
    return hp::getitem(li, key);
  } catch (nb::python_error &e) {
    hp::add_note(e, [&]() -> nb::object {
      if (!e.matches(PyExc_KeyError)) return {};
      return hp::steal_or_throw(PyUnicode_FromFormat(
          "the sampling record has no key %R; it needs 'N', 'srate' and 'offset_global', and may give 'st' "
          "and 'extra'", key.ptr()));
    });
    throw;
  }
}

/// N as the int it must be, with a note when it is not one.
nb::object sample_count(nb::handle N) {
  try {
    return hp::steal_or_throw(PyNumber_Index(N.ptr()));
  } catch (nb::python_error &e) {
    hp::add_note(e, [&] {
      return hp::steal_or_throw(PyUnicode_FromFormat(
          "the sampling record's 'N' is %s, not an int: N is the number of samples, such as int(duration * srate)",
          Py_TYPE(N.ptr())->tp_name));
    });
    throw;
  }
}

}  // namespace

std::unique_ptr<LineJob> prepare_line(nb::handle pds, nb::handle li, std::optional<OutBuffers> out) {
  auto job = std::make_unique<LineJob>();
  nb::object &N = job->N, &srate = job->srate, &gof = job->gof, &tx_st = job->tx_st;
  N = record_item(li, HV_KEY("N"));
  srate = record_item(li, HV_KEY("srate"));
  gof = record_item(li, HV_KEY("offset_global"));
  tx_st = hp::get(li, HV_KEY("st"), nb::int_(0));
  nb::object tx_ed = hd::add(tx_st, hp::truediv(N, srate));

  nb::object count = sample_count(N);
  if (PyObject_RichCompareBool(count.ptr(), nb::int_(0).ptr(), Py_LT) == 1) {
    PyErr_Format(PyExc_ValueError, "Number of samples, %S, must be non-negative.", count.ptr());
    hp::rethrow();
  }
  nb::object &X = job->X, &W = job->W, &S = job->S;
  X = hp::empty(count, hp::Dtype::float64);  // numpy's MemoryError when too large
  const Py_ssize_t n = PyLong_AsSsize_t(count.ptr());
  // W.fill(gof) comes after the allocations, so a bad gof raises after them.
  std::optional<hk::cdouble> rest;
  std::optional<nb::python_error> bad_rest;
  try {
    rest = fill_value(gof);
  } catch (nb::python_error &e) {
    bad_rest.emplace(std::move(e));
  }
  // With the buffer cache off, a line resting at +0 takes arrays zeroed by
  // the allocator (large arrays come fresh from the kernel, zero already)
  // and writes only the samples its entries touch. With the cache on, its
  // memory is a held block or one the C allocator recycles, which calloc
  // would clear here, under the GIL; so such a line, any other level and
  // any buffer of the caller's are written once, with the GIL released.
  bool zeroed = rest && *rest == hk::cdouble{} && !std::signbit(rest->real()) && !std::signbit(rest->imag()) &&
                hp::buffer_cache_limit() == 0;
  if (out) {
    out->check(n);
    zeroed = false;
    W = nb::borrow(out->W);
    S = nb::borrow(out->S);
  } else {
    W = zeroed ? zeros(n) : hp::empty(n, hp::Dtype::complex128);
    S = zeroed ? zeros(n) : hp::empty(n, hp::Dtype::complex128);
  }
  if (bad_rest) throw std::move(*bad_rest);

  job->line = hk::Line{static_cast<std::size_t>(n), hp::own_view(X).real(), hp::own_view(W).cplx(),
                       S.is_none() ? nullptr : hp::own_view(S).cplx(), false, zeroed, hp::to_double(tx_st),
                       hp::to_double(tx_ed), 0, *rest};
  LineParser &parser = job->parser.emplace(job->line, X, N, srate, tx_st, gof);

  if (PyList_CheckExact(pds.ptr()) || PyTuple_CheckExact(pds.ptr()))
    parser.plan.pulses.reserve(static_cast<std::size_t>(Py_SIZE(pds.ptr())));
  nb::object it = hp::steal_or_throw(PyObject_GetIter(pds.ptr()));
  std::size_t order = 0;
  while (PyObject *pd = PyIter_Next(it.ptr())) {
    nb::object entry = nb::steal(pd);
    hp::check_signals();
    try {
      parser.entry(entry, order);
    } catch (nb::python_error &e) {
      note_entry(e, entry, order);
      throw;
    }
    ++order;
  }
  if (PyErr_Occurred()) hp::rethrow();

  std::optional<nb::list> &iirs = job->iirs;
  iirs = iir_coefficients(li);
  bool &python_fix = job->python_fix;
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
  return job;
}

// Only raw buffers of arrays the job holds are touched while rendering.
bool render_line(LineJob &job, const hk::Stop &stop) { return hk::render(job.line, job.parser->plan, stop); }

nb::object finish_line(LineJob &job) {
  if (job.python_fix) {
    nb::object fix = names.current(FIX);
    nb::object dev = hd::subtract(hp::numpy().attr("copy")(job.W), job.gof);
    nb::object filtered = hd::add(fix(job.X, dev, *job.iirs, nb::none()), job.gof);
    nb::object all = hp::steal_or_throw(PySlice_New(nullptr, nullptr, nullptr));
    if (PyObject_SetItem(job.W.ptr(), all.ptr(), filtered.ptr()) < 0) hp::rethrow();
  }
  return nb::make_tuple(job.X, job.W, job.S);
}

namespace {

nb::object pdc2pulse(nb::handle pds, nb::handle li) {
  std::unique_ptr<LineJob> job = prepare_line(pds, li);
  hp::SignalWatch watch;
  {
    nb::gil_scoped_release nogil;
    render_line(*job, [&] { return watch.poll(); });
  }
  watch.raise_if_stopped();
  return finish_line(*job);
}

}  // namespace

void export_driver(nb::module_ &m) {
  m.def("pdc2pulse", &pdc2pulse, hp::arg("pds"), hp::arg("li"),
        nb::sig("def pdc2pulse(pds: typing.Iterable[halvane.records.PulseLike], li: halvane.records.RecordLike) "
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
        "    A callable shape returns a fresh complex array of ``len(X)`` samples\n"
        "    including ``amp``: the driver multiplies it by nothing before DRAG.\n"
        "li : mapping\n"
        "    The sampling record: ``N`` samples at ``srate`` samples per second from\n"
        "    ``st`` (default 0), resting level ``offset_global``, and optionally\n"
        "    ``extra``, a dict of IIR models ``[A, B, tau, Ts]`` run over W's\n"
        "    deviation from ``offset_global`` (None for no filtering; any other\n"
        "    value raises TypeError).\n\n"
        "Returns\n-------\ntuple of numpy.ndarray\n"
        "    ``(X, W, S)``: the sample times, the modulated line signal and the\n"
        "    envelope signal (complex128). Neither ``pds`` nor ``li`` is modified.\n\n"
        "Examples\n--------\n"
        ">>> from halvane import wavespec_handling as wh\n"
        ">>> pulse = {'shape': 'cos', 'pos': 10e-9, 'width': 20e-9, 'plateau': 0, 'amp': 0.5,\n"
        "...          'freq': 100e6, 'phase': 0, 'phase1': 0}\n"
        ">>> X, W, S = wh.pdc2pulse([pulse], {'N': 80, 'srate': 2e9, 'offset_global': 0.0})\n"
        ">>> X.shape, W.dtype, round(float(abs(S).max()), 6)\n"
        "((80,), dtype('complex128'), 0.5)\n\n"
        "A callable shape gives its samples with ``amp`` in them:\n\n"
        ">>> flat = lambda X, pd, cp: pd['amp'] * (0 * X + 1) + 0j\n"
        ">>> S = wh.pdc2pulse([dict(pulse, shape=flat)], {'N': 80, 'srate': 2e9, 'offset_global': 0.0})[2]\n"
        ">>> float(abs(S).max())\n"
        "0.5");
}

}  // namespace halvane::wavespec_handling
