// The notes that locate an error of the sampling driver in its collection.
#pragma once
#include <cstddef>
#include <nanobind/nanobind.h>

namespace halvane::wavespec_handling {
namespace nb = nanobind;

/// Note on `e` which entry it arose in ("while sampling entry #13 (pulse,
/// shape 'cos', pos 6.5e-07 s)") and, for a shape name missing from
/// shapeTable, the names it has and the closest one; for a level step whose
/// edge_shape names an envelope, that it needs an edge.
void note_entry(const nb::python_error &e, nb::handle pd, std::size_t index) noexcept;

}  // namespace halvane::wavespec_handling
