// The parts of halvane.wavespec_handling, each registered by its own file.
// They are called in this order, so later parts may look up earlier ones.
#pragma once
#include <nanobind/nanobind.h>
#include <optional>
#include "kernels/shapes.hpp"

namespace halvane::wavespec_handling {
namespace nb = nanobind;

void export_constants(nb::module_ &m);  // np, lfilter, pi, pi4, sq2 (in shapes.cpp)
void export_grid(nb::module_ &m);       // rng, grad, fr, nr, mn, mpdc
void export_shapes(nb::module_ &m);     // edges, envelopes and shapeTable
void export_carrier(nb::module_ &m);    // carrier
void export_filters(nb::module_ &m);    // IIR_filtering, FIR_filtering, cal_iir_coef, fix
void export_driver(nb::module_ &m);     // pdc2pulse
void export_lines(nb::module_ &m);      // sample_lines, _pdc2pulse_into
void export_memory(nb::module_ &m);     // buffer_cache

// For the sampling driver, which renders natively what it can (shapes.cpp,
// carrier.cpp; valid once export_shapes / export_carrier have run).
//
// A shapeTable entry or a pd['shape'] callable `fn` can be rendered with
// kernels::envelope when native_shape(fn) names its Shape: `fn` is one of
// this module's own shape functions and every module-level name it would
// call (square, sine_edge, sine_edge_2pi, seige, seige2pi, mn) is still bound
// to the original. Otherwise call `fn` through Python. The check reads the
// module globals now, so make it per pulse description.

/// The kernel shape of `fn`, or nothing when `fn` must be called through Python.
std::optional<kernels::Shape> native_shape(nb::handle fn);

/// Read `pd` as shape `s` reads it: the same keys in the same order, KeyError
/// naming a missing key, TypeError for a value that is not a number.
kernels::ShapeParams read_shape_params(kernels::Shape s, nb::handle pd);

/// True when `fn` is this module's sine_edge and seige and mn are the
/// originals, so a level step may use kernels::sine_edge.
bool is_native_sine_edge(nb::handle fn);

}  // namespace halvane::wavespec_handling
