// halvane.wavespec_handling: carrier (being written).
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

void export_carrier(nb::module_ &) {}

}  // namespace halvane::wavespec_handling
