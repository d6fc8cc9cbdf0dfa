// The filter chain as the sampling driver uses it (filters.cpp).
#pragma once
#include <optional>
#include "kernels/iir.hpp"
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling {

/// cal_iir_coef(input_list), the module function.
nb::object cal_iir_coef(nb::handle input_list);

/// The stage that fix() would run for the coefficient triple F on complex
/// samples, when it would run natively: IIR_filtering and lfilter are the
/// originals and np.array(F) + [1, -1, 1] gives three numbers. Errors of
/// that arithmetic propagate; nothing means "call fix through Python".
std::optional<kernels::IirStage> native_stage(nb::handle F);

}  // namespace halvane::wavespec_handling
