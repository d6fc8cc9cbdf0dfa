// halvane.waveintent: WaveIntent, the base of every gate-to-pulse recipe.
//
// A recipe copies a line's template pulse description, lets its calibration
// hook `will` fill the copy from calibration data, then applies the class
// keywords given at construction and the keywords of the call, each layer
// overriding the one before key by key.
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/mapping.hpp"
#include "py/collaborators.hpp"
#include "domain/recipes.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;
namespace hd = halvane::domain;

namespace halvane::waveintent {
void def_repr(nb::handle cls);  ///< waveintent/repr.cpp
}

namespace {

void init(nb::handle self, nb::kwargs kwds) {
  if (PyObject_SetAttr(self.ptr(), HV_KEY("kw").ptr(), kwds.ptr()) < 0) hp::rethrow();
}

nb::object get_pd(nb::handle self, nb::handle pdt, nb::handle cp, nb::kwargs kwds_) {
  return hd::pulse_description(self, pdt, cp, kwds_);
}

}  // namespace

NB_MODULE(waveintent, m) {
  halvane::py::initialise_once(m);
  m.doc() = "WaveIntent, the base recipe that turns a line's template into a pulse description.";
  nb::object cls = hp::make_class(
      m, "WaveIntent", nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(&PyBaseObject_Type))),
      "Base recipe: template copy, calibration hook, class keywords, call keywords.\n\n"
      "``WaveIntent(**kwds)`` stores its keyword arguments as ``kw``, the class\n"
      "keywords that every pulse description made by this object receives.\n"
      "Subclasses override ``will(w, cp)`` to write calibration values into the\n"
      "copy ``w``; ``get_pd`` applies the four layers in order.");
  cls.attr("__maj_type__") = "WaveIntent";
  cls.attr("__mnr_type__") = "WaveIntent";
  hp::def_method(cls, "__init__", &init, hp::arg("kwds"),
                 nb::sig("def __init__(self, **kwds: typing.Any) -> None"),
                 "Store the keyword arguments as the class keywords ``kw``.");
  // One default calibration dict, shared by every call that omits cp.
  hp::def_method(cls, "get_pd", &get_pd, hp::arg("pdt"), hp::arg("cp") = nb::dict(),
                 hp::arg("kwds_"),
                 nb::sig("def get_pd(self, pdt: halvane.records.PulseLike, cp: typing.Mapping[str, typing.Any] = {}, "
                         "**kwds_: typing.Any) -> dict[str, typing.Any]"),
                 "Produce one pulse description from the template ``pdt``.\n\n"
                 "Parameters\n----------\n"
                 "pdt : dict\n    The line's template pulse description; copied, never changed.\n"
                 "cp : dict\n    The qubit's calibration dict, read by ``will``.\n"
                 "**kwds_\n    Targeted keywords; they override everything else.\n\n"
                 "Returns\n-------\ndict\n"
                 "    ``pdt.copy()`` changed by ``self.will(w, cp)``, then updated with\n"
                 "    ``self.kw`` and with ``kwds_``.\n\n"
                 "Examples\n--------\n"
                 ">>> from halvane import waveintent_enumeration as r\n"
                 ">>> template = {'amp': 0, 'width': 0, 'plateau': 0, 'vz': 0}\n"
                 ">>> r.X_p(amp=0.3).get_pd(template, {'pi': {'amp': 0.5, 'width': 4e-8, 'phase_offs': 0.1}})\n"
                 "{'amp': 0.3, 'width': 4e-08, 'plateau': 0, 'vz': 0.1, 'phase_offs': 0.1, 'phase': 0}");
  hp::def_method(cls, "will", [](nb::handle, nb::handle, nb::handle) {},
                 hp::arg("w"), hp::arg("cp"),
                 nb::sig("def will(self, w: dict, cp: dict) -> None"),
                 "Calibration hook: change ``w`` in place from ``cp``. Does nothing here.");
  halvane::waveintent::def_repr(cls);
  hp::offer_native("WaveIntent.get_pd",
                   PyDict_GetItemString(reinterpret_cast<PyTypeObject *>(cls.ptr())->tp_dict, "get_pd"),
                   [](nb::handle self, nb::handle pdt, nb::handle cp, nb::handle kwds) {
                     return hd::pulse_description(self, pdt, cp, kwds);
                   });
  halvane::py::finish_module(m);
}
