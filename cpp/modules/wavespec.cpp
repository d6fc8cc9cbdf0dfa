// halvane.wavespec: WaveSpec, one control line's pulses and sampling window.
//
// A thin layer over the sampling driver: it holds the pulse description list
// (shared, never copied), shifts it in time with <<, and samples the window
// [start, stop) through `pulse_compute.pdc2pulse`, looked up at each call so
// that a user may rebind either name.
#include <cmath>
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/collaborators.hpp"
#include "py/mapping.hpp"
#include "py/numbers.hpp"
#include "py/out_arrays.hpp"
#include "py/unpack.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;

namespace halvane::wavespec {
void def_repr(nb::handle cls);  ///< wavespec/repr.cpp
}

namespace {

enum : std::size_t { PDC2PULSE, NAME_COUNT };
constexpr hp::Collaborator collaborator_table[] = {{PDC2PULSE, "pulse_compute", "pdc2pulse"}};
static_assert(hp::named_in_order(collaborator_table, NAME_COUNT));
hp::Collaborators names{collaborator_table};

nb::object attr_of(nb::handle obj, nb::handle name) {
  return hp::steal_or_throw(PyObject_GetAttr(obj.ptr(), name.ptr()));
}
void set_attr(nb::handle obj, nb::handle name, nb::handle value) {
  if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) < 0) hp::rethrow();
}

void init(nb::handle self, nb::handle pds, nb::handle start, nb::handle stop,
          nb::handle offset_global, nb::handle extra) {
  set_attr(self, HV_KEY("pds"), pds);
  set_attr(self, HV_KEY("start"), start);
  set_attr(self, HV_KEY("stop"), stop);
  set_attr(self, HV_KEY("offset_global"), offset_global);
  set_attr(self, HV_KEY("extra"), extra);
}

void lshift(nb::handle self, nb::handle n) {
  nb::object it = hp::steal_or_throw(PyObject_GetIter(attr_of(self, HV_KEY("pds")).ptr()));
  while (PyObject *p_ = PyIter_Next(it.ptr())) {
    nb::object p = nb::steal(p_);
    hp::check_signals();
    nb::object pos = hp::getitem(p, HV_KEY("pos"));
    hp::setitem(p, HV_KEY("pos"), hp::steal_or_throw(PyNumber_InPlaceAdd(pos.ptr(), n.ptr())));
  }
  if (PyErr_Occurred()) hp::rethrow();
}

/// The number of samples k >= 0 with start + k/rate < stop: the product
/// (stop - start) * rate rounded up, where a product within 1e-9 (relative)
/// of a whole number counts as that number, so that rounding in the window
/// bounds neither adds a sample at `stop` nor drops the last one before it.
long long window_samples(nb::handle start, nb::handle stop, nb::handle rate) {
  double x = (hp::to_double(stop) - hp::to_double(start)) * hp::to_double(rate);
  if (!std::isfinite(x)) hp::raise(PyExc_ValueError, "the sample count of the window is not finite");
  if (x <= 0) return 0;
  double whole = std::nearbyint(x);
  double n = std::fabs(x - whole) <= 1e-9 * std::fmax(1.0, x) ? whole : std::ceil(x);
  if (n > 9e18) hp::raise(PyExc_OverflowError, "the window has too many samples");
  return static_cast<long long>(n);
}

/// The driver's entry that writes W into a caller's array, taken while
/// `pulse_compute.pdc2pulse` is still the driver itself.
PyObject *pdc2pulse_into = nullptr;

nb::object sample(nb::handle self, nb::handle sample_rate, nb::handle out, nb::handle, nb::handle) {
  // A rate is stored when `None != sample_rate`, so its own comparison decides.
  int given = PyObject_RichCompareBool(Py_None, sample_rate.ptr(), Py_NE);
  if (given < 0) hp::rethrow();
  if (given) set_attr(self, HV_KEY("sample_rate"), sample_rate);
  nb::object start = attr_of(self, HV_KEY("start"));
  nb::object stop = attr_of(self, HV_KEY("stop"));
  nb::object rate = attr_of(self, HV_KEY("sample_rate"));
  nb::dict li;
  li["st"] = start;
  li["N"] = nb::int_(window_samples(start, stop, rate));
  li["srate"] = rate;
  li["offset_global"] = attr_of(self, HV_KEY("offset_global"));
  nb::object extra = attr_of(self, HV_KEY("extra"));
  if (!extra.is_none()) li["extra"] = extra;
  set_attr(self, HV_KEY("li"), li);

  if (!out.is_none()) hp::out_array(out, PyLong_AsSsize_t(li["N"].ptr()), HV_KEY("out"));
  nb::object driver = names.current(PDC2PULSE);
  try {
    if (!out.is_none() && names.is_original(PDC2PULSE, driver))
      return nb::handle(pdc2pulse_into)(attr_of(self, HV_KEY("pds")), attr_of(self, HV_KEY("li")), out);
    nb::object r = driver(attr_of(self, HV_KEY("pds")), attr_of(self, HV_KEY("li")));
    auto [X, W, S] = hp::unpack<3>(r);
    if (out.is_none()) return W;
    nb::object all = hp::steal_or_throw(PySlice_New(nullptr, nullptr, nullptr));
    if (PyObject_SetItem(out.ptr(), all.ptr(), W.ptr()) < 0) hp::rethrow();
    return nb::borrow(out);
  } catch (nb::python_error &e) {
    // A window given in ns or µs instead of seconds asks for billions of samples.
    if (e.matches(PyExc_MemoryError))
      hp::add_note(e, [&] {
        return hp::steal_or_throw(PyUnicode_FromFormat(
            "the window [%R, %R) s at %R samples/s is %S samples; times are in seconds (100 ns is 100e-9)",
            start.ptr(), stop.ptr(), rate.ptr(), li["N"].ptr()));
      });
    throw;
  }
}

}  // namespace

NB_MODULE(wavespec, m) {
  halvane::py::initialise_once(m);
  m.doc() = "WaveSpec: one control line's pulse descriptions with a sampling window.";
  m.attr("pulse_compute") = nb::module_::import_("halvane.wavespec_handling");
  names.bind(m);
  // Kept for the life of the process, like the module that holds it.
  pdc2pulse_into = nb::object(m.attr("pulse_compute").attr("_pdc2pulse_into")).release().ptr();
  nb::object cls = hp::make_class(
      m, "WaveSpec", nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(&PyBaseObject_Type))),
      "One control line: a pulse description list and the window [start, stop).\n\n"
      "``ws << t`` moves every pulse by ``t`` seconds (in place, in the shared\n"
      "dicts); ``ws.sample(rate)`` samples the window at ``rate`` samples per\n"
      "second and returns the modulated line signal. The line rests at\n"
      "``offset_global`` (set it in the constructor or as an attribute at any\n"
      "time); ``extra``, when not None, holds the IIR stages of the driver's\n"
      "sampling record.\n\n"
      "Examples\n--------\n"
      ">>> from halvane.wavespec import WaveSpec\n"
      ">>> pulse = {'shape': 'cos', 'pos': 10e-9, 'width': 20e-9, 'plateau': 0, 'amp': 0.5,\n"
      "...          'freq': 100e6, 'phase': 0, 'phase1': 0}\n"
      ">>> ws = WaveSpec([pulse], start=0, stop=100e-9)\n"
      ">>> ws << 20e-9                  # every pulse 20 ns later, in place\n"
      ">>> ws.sample(2e9).shape         # 2 GS/s over [0, 100 ns)\n"
      "(200,)");
  hp::def_method(cls, "__init__", &init, hp::arg("pds"), hp::arg("start") = nb::int_(0),
                 hp::arg("stop") = nb::float_(50e-6), hp::arg("offset_global") = nb::int_(0),
                 hp::arg("extra") = nb::none(),
                 nb::sig("def __init__(self, pds: typing.Iterable[halvane.records.PulseLike], start: float = 0, stop: float = 5e-05, "
                         "offset_global: complex = 0, extra: dict | None = None) -> None"),
                 "Parameters\n----------\n"
                 "pds : list\n"
                 "    The pulse description list of the line; kept, not copied.\n"
                 "start, stop : float\n    The window [start, stop), seconds.\n"
                 "offset_global : number\n"
                 "    Resting level of the line before its first level step.\n"
                 "extra : dict or None\n"
                 "    IIR stages for the driver: each value ``[A, B, tau, Ts]``.");
  hp::def_method(cls, "__lshift__", &lshift, hp::arg("n"),
                 nb::sig("def __lshift__(self, n: float) -> None"),
                 "Add ``n`` to the ``pos`` of every pulse description, in list order.");
  hp::def_method(cls, "sample", &sample, hp::arg("sample_rate") = nb::none(),
                 hp::arg("out") = nb::none(), hp::arg("chunk_size") = nb::none(),
                 hp::arg("function_lib") = nb::none(),
                 nb::sig("def sample(self, sample_rate: float | None = None, out: numpy.ndarray | None = None, "
                         "chunk_size: typing.Any = None, function_lib: typing.Any = None) "
                         "-> numpy.ndarray"),
                 "Sample the window [start, stop) and return the modulated signal.\n\n"
                 "Parameters\n----------\n"
                 "sample_rate : float, optional\n"
                 "    Samples per second; stored as ``sample_rate``. Omitted, the rate of\n"
                 "    the previous call is used.\n"
                 "out : numpy.ndarray, optional\n"
                 "    A writeable, contiguous complex128 array of exactly N samples: the\n"
                 "    signal is written into it, and it is returned (TypeError for\n"
                 "    another type or dtype, ValueError for another shape).\n"
                 "chunk_size, function_lib\n    Accepted and ignored.\n\n"
                 "Returns\n-------\nnumpy.ndarray\n"
                 "    ``W`` of ``pulse_compute.pdc2pulse(self.pds, self.li)``, complex128\n"
                 "    (``out`` itself when given).\n"
                 "    ``self.li`` is the record ``{'st': start, 'N': N, 'srate': rate,\n"
                 "    'offset_global': offset_global}`` (plus ``'extra'`` when set), where\n"
                 "    N = ceil((stop - start) * rate) counts the samples start + k/rate\n"
                 "    before stop (a product within 1e-9 of a whole number counts as it).");
  halvane::wavespec::def_repr(cls);
  halvane::py::finish_module(m);
}
