// halvane.circuit: instructions and circuits, their links, rule application,
// ASAP and ALAP scheduling, collection of pulse descriptions per line,
// virtual Z folded into the pulses that follow it, and text printing.
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hc = halvane::circuit;

NB_MODULE(circuit, m) {
  halvane::py::initialise_once(m);
  m.doc() = "Gate circuits: instructions, rule application, scheduling, collection per line, printing.";
  m.attr("np") = nb::module_::import_("numpy");
  m.attr("rule") = nb::module_::import_("halvane.rule");
  m.attr("brick") = nb::module_::import_("halvane.brick");
  hc::export_instructions(m);
  hc::export_links(m);
  hc::export_application(m);
  hc::export_scheduling(m);
  hc::export_collection(m);
  hc::export_frames(m);
  hc::export_printing(m);
  hc::export_reprs(m);
  hc::bind_collaborators(m);
  halvane::py::finish_module(m, {"_ASAP", "_ALAP"});  // public, as the scheduling steps
}
