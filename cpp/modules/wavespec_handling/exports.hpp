// The parts of halvane.wavespec_handling, each registered by its own file.
// They are called in this order, so later parts may look up earlier ones.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::wavespec_handling {
namespace nb = nanobind;

void export_grid(nb::module_ &m);      // rng, grad, fr, nr, mn, mpdc
void export_shapes(nb::module_ &m);    // edges, envelopes and shapeTable
void export_carrier(nb::module_ &m);   // carrier
void export_filters(nb::module_ &m);   // IIR_filtering, FIR_filtering, cal_iir_coef, fix
void export_driver(nb::module_ &m);    // pdc2pulse

}  // namespace halvane::wavespec_handling
