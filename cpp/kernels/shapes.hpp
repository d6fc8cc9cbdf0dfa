// Pulse envelopes and edges over sample times, without Python.
//
// === Entry point for a renderer ===
//
// A caller that has already read a pulse description (for example the
// sampling driver, under the GIL) fills a ShapeParams and later, with or
// without the GIL, calls
//
//     envelope(Shape::sine, params, X + st, ed - st, buffer);
//
// which writes the complex envelope (amp included) of that pulse on the
// times X[st..ed) into buffer[0..ed-st), exactly as the module's shape
// function of that name returns it when its collaborators are the
// originals. Only the fields that a shape reads are used (see the comments on
// ShapeParams); the others keep their defaults. A level step's edge is
// sine_edge() below. The binding layer offers the matching Python-side helpers
// (which shape a table entry is, and reading a pulse description in the
// shape's own key order): see modules/wavespec_handling/exports.hpp.
//
// === Numbers ===
//
// Every kernel evaluates the module's numpy formula in the same order on
// the same doubles: masks and window bounds are the same comparisons, so
// they agree exactly; values agree to rounding (the transcendentals are the
// vectorised ones of vmath.hpp). Complex products and quotients follow
// numpy's own formulas (cplx.hpp), so NaN and infinity appear where numpy
// gives them. Buffers may be of any length, 0 included; output never aliases
// input.
//
// === Adding a shape ===
//
// One entry in HALVANE_SHAPES below, its kernel, and its binding (see the
// README's "Adding a native shape", which lists every file it touches).
#pragma once
#include <complex>
#include <cstddef>

namespace halvane::kernels {

/// Every shape of the shape table, one entry each, in the order the module
/// defines its functions: X(id, function, key, rank), with `id` the Shape and
/// the name of its kernel `detail::<id>_envelope` (shapes_internal.hpp), and
/// its binding's `<id>_read`, `<id>_native`, `<id>_call` and `<id>_doc`
/// (modules/wavespec_handling/shapes.cpp); `function` the module function,
/// `key` its name in shapeTable, `rank` its place there (the table keeps
/// the order of its first release; a new shape takes the next rank).
#define HALVANE_SHAPES(X)                       \
  X(square, "square", "square", 2)              \
  X(sine, "sine", "sine", 1)                    \
  X(cosine, "cosine", "cos", 3)                 \
  X(hcosine, "hcosine", "hcos", 5)              \
  X(hcosine_asys, "hcosine_asys", "hcos_asys", 4) \
  X(sine2pi, "sine2pi", "sinedpi", 0)           \
  X(tanh, "tanh", "tanh", 6)                    \
  X(hyper, "hyper", "hyper", 7)                 \
  X(gauss, "gaussian", "gauss", 8)              \
  X(netzero, "netzero", "netzero", 9)

/// The envelope shapes of the shape table.
enum class Shape : unsigned char {
#define HALVANE_SHAPE_ID(id, function, key, rank) id,
  HALVANE_SHAPES(HALVANE_SHAPE_ID)
#undef HALVANE_SHAPE_ID
};

/// How many shapes the table has.
inline constexpr std::size_t kShapeCount = 0
#define HALVANE_SHAPE_ONE(id, function, key, rank) +1
    HALVANE_SHAPES(HALVANE_SHAPE_ONE)
#undef HALVANE_SHAPE_ONE
    ;

/// What the shapes read from a pulse description, as doubles.
struct ShapeParams {
  double pos = 0;              ///< every shape
  double width = 0;            ///< every shape
  double plateau = 0;          ///< every shape but tanh
  std::complex<double> amp{};  ///< every shape
  double scale_a = 0;          ///< sine only ("scale_a", default 0)
  double scale_b = 1;          ///< sine only ("scale_b", default 1)
  double left_scale = 1;       ///< hcosine_asys only ("left_scale", default 1)
  double right_scale = 1;      ///< hcosine_asys only ("right_scale", default 1)
  std::complex<double> epsilon{};  ///< tanh and hyper ("epsilon"); complex allowed
  double sigma = 0;            ///< gauss only ("sigma", default width / 4)
};

/// The envelope of shape `s` on the n times X into out (n complex values).
/// Includes the fall-back to square for |width| < 1e-14 of each sine-family
/// shape and gauss (netzero's halves fall back each, at half the width).
/// hyper divides by its own largest sample, so it depends on the whole slice.
/// `cold`: out's memory is known to be out of the caches, so a large one is
/// streamed past them sooner (see kernels/stream.hpp).
void envelope(Shape s, const ShapeParams &p, const double *X, std::size_t n,
              std::complex<double> *out, bool cold = false);

/// sine_edge(X, x0, w_, a_, b_): a rising edge from 0 to 1 over the window of
/// width max(w_, 1e-10) centred on x0, then 1; the level step's edge.
void sine_edge(const double *X, std::size_t n, double x0, double w_, double a_, double b_,
               std::complex<double> *out, bool cold = false);

/// sine_edge_2pi(X, x0, w_): one sine period over the window, 0 outside.
void sine_edge_2pi(const double *X, std::size_t n, double x0, double w_,
                   std::complex<double> *out, bool cold = false);

/// square_edge(X, x0): out[k] = X[k] >= x0.
void square_edge(const double *X, std::size_t n, double x0, bool *out);

/// seige(x, a, b, w) = pi * (x * (b - a) / w + (b + a - 1) / 2), element-wise.
void seige(const double *x, std::size_t n, double a, double b, double w, double *out);

/// seige2pi(x, w) = 2.0 * pi * (x / w), element-wise.
void seige2pi(const double *x, std::size_t n, double w, double *out);

}  // namespace halvane::kernels
