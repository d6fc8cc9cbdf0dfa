// Replaying a rule's earlier result.
//
// A circuit applies the same few rules to the same qubit information over
// and over, and a rule whose recipes are native computes the same
// descriptions each time from the same keywords: they depend only on what it reads (its
// tracks, the qubit information, the templates and calibration dicts, the
// recipes' class keywords) and involve no code but this package's. While
// none of that has changed, semi_apply may hand out new copies of the
// descriptions it made before instead of making them again.
//
// Nothing is held on to but those copies: a dict is known unchanged by its
// address and version tag together (CPython 3.11 gives every dict a new
// tag at creation and with each modification), lists and recipes by their
// contents, and the walk that checks them starts from the arguments, so it
// never reaches an object that may have died. Every value that arithmetic
// might touch must be a plain number, str, bool or None; anything else
// (a numpy array, a callable, a user's type) leaves the rule to do its work
// every time.
#pragma once
#include "py/errors.hpp"

namespace halvane::rule {
namespace nb = nanobind;

/// Offer `rule_type` (RULE itself) for replays.
void init_replay(nb::handle rule_type);

/// What self.semi_apply(its_qubit_info, **kwds) gave the last time, as new
/// objects, when it was given the same keyword objects and nothing it read
/// has changed since; an empty object otherwise. `kwds` is an exact dict.
nb::object replay(nb::handle self, nb::handle its_qubit_info, nb::handle kwds);

/// Keep `result`, which self.semi_apply(its_qubit_info, **kwds) has just
/// returned, for replays when it may be replayed.
void remember(nb::handle self, nb::handle its_qubit_info, nb::handle kwds, nb::handle result);

}  // namespace halvane::rule
