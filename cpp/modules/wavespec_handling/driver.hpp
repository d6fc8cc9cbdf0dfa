// The sampling driver in its three phases, for pdc2pulse and sample_lines.
//
// prepare_line() reads the record and every entry under the GIL and makes
// the arrays; render_line() writes them and touches no Python object, so it
// runs with the GIL released, on any thread; finish_line(), under the GIL
// again, runs a rebound filter and gives the result tuple.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include "modules/wavespec_handling/driver_parse.hpp"

namespace halvane::wavespec_handling {

/// Buffers the caller gives for W and S (S may be None: then the line's
/// envelope is not kept, and the result holds None in its place). `check`
/// is called with the line's sample count once it is known, and raises
/// when the buffers do not fit.
struct OutBuffers {
  nb::handle W, S;
  std::function<void(Py_ssize_t)> check;
};

/// One line between its phases. It does not move: the parser refers to it.
struct LineJob {
  nb::object N, srate, gof, tx_st, X, W, S;
  kernels::Line line{};
  std::optional<LineParser> parser;
  std::optional<nb::list> iirs;
  bool python_fix = false;
};

/// Read li and pds as pdc2pulse does and make (or take) the arrays.
std::unique_ptr<LineJob> prepare_line(nb::handle pds, nb::handle li, std::optional<OutBuffers> out = {});

/// Write the grid, the samples and the native filter stages. No Python.
/// False when `stop` stopped it, leaving the arrays partly written.
bool render_line(LineJob &job, const kernels::Stop &stop = {});

/// Run a rebound filter, if any; returns (X, W, S).
nb::object finish_line(LineJob &job);

/// True when every collaborator the driver looks up is still the original
/// (and pdc2pulse itself is), so that lines may be parsed and rendered apart.
bool driver_unchanged();

}  // namespace halvane::wavespec_handling
