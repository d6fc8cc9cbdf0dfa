// halvane.wavespec_handling: pulse synthesis.
#include "modules/wavespec_handling/collaborators.hpp"
#include "modules/wavespec_handling/exports.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace wh = halvane::wavespec_handling;

NB_MODULE(wavespec_handling, m) {
  halvane::py::initialise_once(m);
  m.doc() = "Pulse synthesis: shapes, time grid, carrier, filters and the sampling driver.";
  wh::export_constants(m);
  wh::export_grid(m);
  wh::export_shapes(m);
  wh::export_carrier(m);
  wh::export_filters(m);
  wh::export_driver(m);
  wh::export_lines(m);
  wh::export_memory(m);
  wh::names.bind(m);
  halvane::py::finish_module(m);
}

namespace halvane::wavespec_handling {
py::Collaborators names{collaborator_table};
}
