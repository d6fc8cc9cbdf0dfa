// halvane.rule: gate rules (RULE, move_track) and rule selection per qubit
// key (RULE_COMP, get_rule).
#include "modules/rule/collaborators.hpp"
#include "modules/rule/exports.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hr = halvane::rule;

NB_MODULE(rule, m) {
  halvane::py::initialise_once(m);
  m.doc() = "Gate rules: recipes per line and track, alignment, and rule selection per qubit key.";
  m.attr("np") = nb::module_::import_("numpy");
  m.attr("time") = nb::module_::import_("time");
  m.attr("brick") = nb::module_::import_("halvane.brick");
  hr::export_gate_rule(m);
  hr::export_move_track(m);
  hr::export_rule_selection(m);
  hr::export_reprs(m);
  hr::bind_collaborators(m);
  halvane::py::finish_module(m);
}
