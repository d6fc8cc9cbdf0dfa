// WaveIntent's get_pd, shared by the waveintent module, which binds it, and
// the rule module, which calls it without the binding's argument handling
// while a recipe's get_pd is the original one.
#pragma once
#include "py/errors.hpp"

namespace halvane::domain {
using namespace halvane::py;

/// self.get_pd(pdt, cp, **kwds) as WaveIntent defines it; `kwds` is an
/// exact dict with str keys that the call may keep, or empty for none.
nb::object pulse_description(nb::handle self, nb::handle pdt, nb::handle cp, nb::handle kwds);

/// Whether `f` is the function WaveIntent.get_pd that halvane.waveintent
/// offered, and `kwds` (as above) leave its parameters to the positional
/// arguments, so that the call may go to pulse_description.
bool calls_pulse_description(nb::handle f, nb::handle kwds);

}  // namespace halvane::domain
