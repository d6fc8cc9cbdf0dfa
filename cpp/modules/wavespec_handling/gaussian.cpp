// halvane.wavespec_handling: the shapes gaussian ("gauss") and netzero
// ("netzero"), on the pieces of shapes.cpp.
//
// gaussian calls no module-level name but square, for a width below 1e-14;
// netzero is the module's cosine twice, so it runs its kernel when cosine
// would, and otherwise combines cosine's results with numpy's operators.
#include "kernels/shapes.hpp"
#include "modules/wavespec_handling/collaborators.hpp"
#include "modules/wavespec_handling/exports.hpp"
#include "modules/wavespec_handling/shape_parts.hpp"
#include "py/mapping.hpp"
#include "py/numbers.hpp"
#include "py/samples.hpp"

namespace halvane::wavespec_handling {
namespace {

namespace hp = halvane::py;
namespace sp = shape_parts;
using kernels::Shape;
using kernels::ShapeParams;

nb::object key(nb::handle pd, nb::handle k) { return hp::getitem(pd, k); }

// gauss past its width test: pos, plateau, amp, sigma (default width / 4).
void read_gauss(nb::handle pd, double width, ShapeParams &p) {
  p.width = width;
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
  p.sigma = hp::to_double(hp::get(pd, HV_KEY("sigma"), nb::float_(width / 4)));
}

// netzero: width and plateau (halved), then pos and amp, as cosine reads its half.
void read_netzero(nb::handle pd, ShapeParams &p) {
  p.width = hp::to_double(key(pd, HV_KEY("width")));
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
}

nb::object gaussian(nb::handle X, nb::handle pd, nb::handle) {
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (sp::narrow(width)) return sp::square_call(X, pd);
  ShapeParams p;
  read_gauss(pd, width, p);
  return sp::render(Shape::gauss, p, hp::sample_times(X));
}

// cosine over each half, the second subtracted: both halves of width/2 and
// plateau/2, the second starting where the first ends.
nb::object netzero_py(nb::handle X, nb::handle pd) {
  nb::object two = nb::int_(2);
  nb::object w = key(pd, HV_KEY("width")) / two;
  nb::object pl = key(pd, HV_KEY("plateau")) / two;
  nb::dict half;  // dict(pd, width=w, plateau=pl)
  hp::update(half, pd);
  half["width"] = w;
  half["plateau"] = pl;
  nb::object first = sp::cosine(X, half);
  half["pos"] = key(pd, HV_KEY("pos")) + (w + pl);
  return first - sp::cosine(X, half);
}

nb::object netzero(nb::handle X, nb::handle pd, nb::handle) {
  if (!sp::cosine_native()) return netzero_py(X, pd);
  ShapeParams p;
  read_netzero(pd, p);
  return sp::render(Shape::netzero, p, hp::sample_times(X));
}

}  // namespace

bool gaussian_native(Shape s) {
  return s == Shape::gauss ? names.original(SQUARE) : sp::cosine_native();
}

void read_gaussian(Shape s, nb::handle pd, ShapeParams &p) {
  if (s == Shape::netzero) return read_netzero(pd, p);
  const double width = hp::to_double(key(pd, HV_KEY("width")));
  if (!sp::narrow(width)) return read_gauss(pd, width, p);
  // The rectangle, read as square reads it; envelope() makes it one.
  p.pos = hp::to_double(key(pd, HV_KEY("pos")));
  p.width = width;
  p.plateau = hp::to_double(key(pd, HV_KEY("plateau")));
  p.amp = hp::to_complex(key(pd, HV_KEY("amp")));
}

void export_gaussian_shapes(nb::module_ &m) {
  sp::def_shape(m, Shape::gauss, "gaussian", &gaussian,
                "Lifted Gaussian edges around a flat top.\n\n"
                "Over [pos, pos + width + plateau): each half of ``width`` is a Gaussian edge\n"
                "``(exp(-u**2 / (2 * sigma**2)) - e0) / (1 - e0)``, u the time to the\n"
                "plateau and ``e0 = exp(-(width/2)**2 / (2 * sigma**2))``, so the pulse\n"
                "starts and ends at exactly 0; the plateau between the edges is exactly\n"
                "``amp``. ``sigma`` (s) defaults to width/4, so each edge spans two standard\n"
                "deviations. With plateau 0 this is the lifted Gaussian, with a plateau\n"
                "the flat-top Gaussian. A width below 1e-14 gives ``square(X, pd)``.");
  sp::def_shape(m, Shape::netzero, "netzero", &netzero,
                "Net-zero flux pulse: two ``cosine`` halves back to back, the second negated.\n\n"
                "Each half has width/2 and plateau/2; the first starts at ``pos``, the\n"
                "second where the first ends, at pos + (width + plateau)/2. The integral\n"
                "over the pulse is 0 to rounding, so slow distortions of the line do not\n"
                "build up.");
}

}  // namespace halvane::wavespec_handling
