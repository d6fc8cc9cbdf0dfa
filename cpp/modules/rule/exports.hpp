// The parts of halvane.rule, each exported by its own file.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::rule {
namespace nb = nanobind;

/// RULE (gate_rule.cpp).
void export_gate_rule(nb::module_ &m);

/// move_track (gate_rule.cpp).
void export_move_track(nb::module_ &m);

/// RULE_COMP and get_rule (selection.cpp).
void export_rule_selection(nb::module_ &m);

/// __repr__ of RULE and RULE_COMP (repr.cpp).
void export_reprs(nb::module_ &m);

}  // namespace halvane::rule
