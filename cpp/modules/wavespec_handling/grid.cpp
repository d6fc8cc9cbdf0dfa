// halvane.wavespec_handling: grid (being written).
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

void export_grid(nb::module_ &) {}

}  // namespace halvane::wavespec_handling
