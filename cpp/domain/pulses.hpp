// The two things the circuit side does to a pulse description: measure its
// duration and move it in time.
#pragma once
#include "py/iterate.hpp"
#include "py/mapping.hpp"
#include "domain/reals.hpp"

namespace halvane::domain {
using namespace halvane::py;

/// pd['width'] + pd['plateau']
inline nb::object pulse_duration(nb::handle pd) {
  nb::object width = getitem(pd, HV_KEY("width"));
  nb::object plateau = getitem(pd, HV_KEY("plateau"));
  return add(width, plateau);
}

/// for p in track: p['pos'] += w
inline void move_track(nb::handle track, nb::handle w) {
  for_each(track, [&](nb::handle p) {
    nb::object pos = getitem(p, HV_KEY("pos"));
    setitem(p, HV_KEY("pos"), inplace_add(pos, w));
  });
}

}  // namespace halvane::domain
