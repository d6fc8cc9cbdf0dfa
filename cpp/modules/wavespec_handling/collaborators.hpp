// What the wavespec_handling module's functions reach through its globals at
// call time (see py/collaborators.hpp): the driver's helpers and the shape
// table, the edges the shapes are built from, the filters and SciPy's
// lfilter, numpy's functions that the hyperbolic shapes call, and the
// driver, which sample_lines calls per line once anything was rebound.
#pragma once
#include "py/collaborators.hpp"

namespace halvane::wavespec_handling {

enum Name : std::size_t {
  RNG, GRAD, CARRIER, CAL_IIR_COEF, FIX, SHAPE_TABLE,
  SQUARE, SINE_EDGE, SINE_EDGE_2PI, SEIGE, SEIGE2PI, MN,
  LFILTER, IIR_FILTERING, FIR_FILTERING,
  NP, NP_TANH, NP_COSH, NP_MAX,
  PDC2PULSE  ///< the driver itself, which sample_lines stands for
};

/// The module's table, bound when the module is loaded.
extern py::Collaborators names;

}  // namespace halvane::wavespec_handling
