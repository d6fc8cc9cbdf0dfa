// halvane.wavespec_handling: driver (being written).
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

void export_driver(nb::module_ &) {}

}  // namespace halvane::wavespec_handling
