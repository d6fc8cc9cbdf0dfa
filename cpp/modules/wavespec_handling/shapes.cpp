// halvane.wavespec_handling: shapes (being written).
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

void export_shapes(nb::module_ &) {}

}  // namespace halvane::wavespec_handling
