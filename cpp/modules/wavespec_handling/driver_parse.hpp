// The parse phase of pdc2pulse: pulse descriptions into a kernels::LinePlan.
//
// Entries are read under the GIL exactly as the driver's algorithm reads
// them: the same keys in the same order, the same collaborators looked up
// by their module names at the same moments, a skipped pulse reading
// nothing after its bounds. Whatever can run natively becomes a plan entry;
// as soon as a pulse meets a rebound collaborator or a value the kernels do
// not take, it continues through the interpreter from that step on and the
// plan receives the arrays it produced.
#pragma once
#include <cstdint>
#include "kernels/render.hpp"
#include "modules/wavespec_handling/exports.hpp"
#include "modules/wavespec_handling/collaborators.hpp"

namespace halvane::wavespec_handling {

class LineParser {
 public:
  /// `line` describes the arrays; X is the grid array object (filled only
  /// when an entry needs it through the interpreter).
  LineParser(kernels::Line &line, nb::handle X, nb::handle N, nb::handle srate, nb::handle tx_st,
             nb::handle gof);

  /// Read one entry, the `order`-th of the collection.
  void entry(nb::handle pd, std::size_t order);

  kernels::LinePlan plan;
  /// The arrays that plan entries point into.
  nb::list keep;

 private:
  struct Bounds;
  struct PulseState;

  Bounds bounds(nb::handle pd);
  void level_step(nb::handle pd, std::size_t order);
  void pulse(nb::handle pd, const Bounds &b, std::size_t order);
  void envelope(PulseState &s, nb::handle pd);
  void drag(PulseState &s, nb::handle pd, nb::handle coef);
  void rotation(PulseState &s, nb::handle pd);
  void carrier_and_sum(PulseState &s, nb::handle pd);
  void to_python(PulseState &s);
  nb::handle pulse_times(PulseState &s);
  nb::object grid_slice(nb::handle lo, nb::handle hi);
  void ensure_grid();
  const kernels::cdouble *keep_array(nb::handle arr, std::size_t n);

  kernels::Line &line_;
  nb::handle X_, N_, srate_, tx_st_;
  std::optional<double> st_plain_, srate_plain_;
  nb::object current_bias_;
};

}  // namespace halvane::wavespec_handling
