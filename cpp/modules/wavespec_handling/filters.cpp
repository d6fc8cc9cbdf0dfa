// halvane.wavespec_handling: filters (being written).
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

void export_filters(nb::module_ &) {}

}  // namespace halvane::wavespec_handling
