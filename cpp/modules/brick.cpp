// halvane.brick: qubit keys, type tags, keyword routing, dict merging and
// pulse durations, shared by the rule and circuit modules.
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/mapping.hpp"
#include "domain/pulses.hpp"
#include "domain/qubits.hpp"
#include "domain/routing.hpp"
#include "domain/tags.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;
namespace hd = halvane::domain;

namespace {

bool check_iterable(nb::handle w) {
  PyObject *it = PyObject_GetIter(w.ptr());
  if (it) {
    Py_DECREF(it);
    return true;
  }
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) hp::rethrow();
  PyErr_Clear();
  return false;
}

nb::dict merge_dict(nb::args dcts) {
  nb::dict out;
  for (nb::handle d : dcts) {
    if (PyDict_Check(d.ptr())) {
      if (PyDict_Update(out.ptr(), d.ptr()) < 0) hp::rethrow();
    } else {
      out.attr("update")(d);
    }
  }
  return out;
}

void export_qubit_keys(nb::module_ &m) {
  m.def("to_xqubits", &hd::to_xqubits, hp::arg("qubits"),
        nb::sig("def to_xqubits(qubits: typing.Iterable[object]) -> str"),
        "Join the qubits of an iterable into a qubit key.\n\n"
        "Each element is converted with ``str()`` and the pieces are joined by\n"
        "``'x'``: ``(1, 2, 3)`` gives ``'1x2x3'``, an empty iterable ``''``.");
  m.def("from_xqubits", &hd::from_xqubits, hp::arg("text"),
        nb::sig("def from_xqubits(text: str) -> list[int]"),
        "Split a qubit key at every ``'x'`` into a list of ints.\n\n"
        "``'0x1x3'`` gives ``[0, 1, 3]``. A piece that is not a decimal integer\n"
        "raises ``ValueError`` from ``int()``.");
}

void export_type_tags(nb::module_ &m) {
  m.def("isit", [](nb::handle w, nb::handle t) { return hd::tag_equals(w, HV_KEY("__maj_type__"), t); },
        hp::arg("w"), hp::arg("t"), nb::sig("def isit(w: object, t: object) -> object"),
        "``w.__maj_type__ == t``, or False when ``w`` has no major type tag.");
  m.def("isit_in", [](nb::handle w, nb::handle L) { return hd::tag_in(w, HV_KEY("__maj_type__"), L); },
        hp::arg("w"), hp::arg("L"), nb::sig("def isit_in(w: object, L: object) -> bool"),
        "Whether ``w.__maj_type__ in L``; False when ``w`` has no major type tag.");
  m.def("m_isit", [](nb::handle w, nb::handle t) { return hd::tag_equals(w, HV_KEY("__mnr_type__"), t); },
        hp::arg("w"), hp::arg("t"), nb::sig("def m_isit(w: object, t: object) -> object"),
        "``w.__mnr_type__ == t``, or False when ``w`` has no minor type tag.");
  m.def("m_isit_in", [](nb::handle w, nb::handle L) { return hd::tag_in(w, HV_KEY("__mnr_type__"), L); },
        hp::arg("w"), hp::arg("L"), nb::sig("def m_isit_in(w: object, L: object) -> bool"),
        "Whether ``w.__mnr_type__ in L``; False when ``w`` has no minor type tag.");
}

void export_routing(nb::module_ &m) {
  m.def("u2split", &hd::u2split, hp::arg("k"), nb::sig("def u2split(k: str) -> list[str]"),
        "Split a keyword name at every ``'__'``, keeping the non-empty parts.\n\n"
        "``'q0__amp'`` gives ``['q0', 'amp']``, ``'__a____b'`` gives ``['a', 'b']``.");
  m.def("join_kw", &hd::join_kw, hp::arg("s") = nb::list(),
        nb::sig("def join_kw(s: list[str] = []) -> str"),
        "Join the parts of a list with ``'__'``: ``['drag', 'scale']`` gives\n"
        "``'drag__scale'``, ``[]`` gives ``''``.");
  m.def("catch", &hd::catch_kw, hp::arg("kwds"), hp::arg("w"),
        nb::sig("def catch(kwds: dict[str, object], w: str) -> dict[str, object]"),
        "Route targeted keywords to the target ``w``.\n\n"
        "A plain keyword applies to every target. A keyword ``'<t>__<rest>'``\n"
        "applies when ``<t>`` is ``w`` or the wildcard ``'X'`` and is passed on\n"
        "as ``<rest>``; keywords for other targets are dropped. Later entries of\n"
        "``kwds`` overwrite earlier ones under the same resulting name.\n\n"
        "Parameters\n----------\n"
        "kwds : dict\n    The keywords, read in insertion order.\n"
        "w : str\n    The target's name.\n\n"
        "Returns\n-------\ndict\n    A new dict of the keywords for ``w``.");
}

}  // namespace

NB_MODULE(brick, m) {
  halvane::py::initialise_once(m);
  m.doc() = "Qubit keys, type tags, keyword routing, dict merging and pulse durations.";
  m.def("check_iterable", &check_iterable, hp::arg("w"),
        nb::sig("def check_iterable(w: object) -> bool"),
        "True when the interpreter can make an iterator of ``w``.\n\n"
        "Only ``TypeError`` means 'not iterable'; any other error propagates.");
  export_qubit_keys(m);
  export_type_tags(m);
  export_routing(m);
  m.def("pulse_duration", &hd::pulse_duration, hp::arg("pd"),
        nb::sig("def pulse_duration(pd: typing.Mapping[str, typing.Any]) -> typing.Any"),
        "Duration of a pulse description: ``pd['width'] + pd['plateau']``.");
  m.def("merge_dict", &merge_dict, nb::sig("def merge_dict(*dcts: typing.Any) -> dict"),
        "One new dict updated with each argument in order; later arguments win.");
  halvane::py::finish_module(m);
}
