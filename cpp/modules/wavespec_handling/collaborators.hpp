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
  NP, NP_TANH, NP_COSH, NP_MAX, NP_EXP,
  PDC2PULSE,  ///< the driver itself, which sample_lines stands for
  NAME_COUNT
};

inline constexpr py::Collaborator collaborator_table[] = {
    {RNG, "rng"}, {GRAD, "grad"}, {CARRIER, "carrier"}, {CAL_IIR_COEF, "cal_iir_coef"}, {FIX, "fix"},
    {SHAPE_TABLE, "shapeTable"}, {SQUARE, "square"}, {SINE_EDGE, "sine_edge"},
    {SINE_EDGE_2PI, "sine_edge_2pi"}, {SEIGE, "seige"}, {SEIGE2PI, "seige2pi"}, {MN, "mn"},
    {LFILTER, "lfilter"}, {IIR_FILTERING, "IIR_filtering"}, {FIR_FILTERING, "FIR_filtering"},
    {NP, "np"}, {NP_TANH, "np", "tanh"}, {NP_COSH, "np", "cosh"}, {NP_MAX, "np", "max"},
    {NP_EXP, "np", "exp"}, {PDC2PULSE, "pdc2pulse"}};
static_assert(py::named_in_order(collaborator_table, NAME_COUNT));

/// The module's table, bound when the module is loaded.
extern py::Collaborators names;

}  // namespace halvane::wavespec_handling
