// The line renderer: a parsed pulse collection into the arrays W and S.
//
// === Overview ===
//
// The sampling driver reads a line's pulse descriptions under the GIL and
// describes the work as a LinePlan; render() then writes the grid X, the
// modulated signal W and the envelope signal S without touching Python.
//
// A level step assigns A*edge + B to W and S from its first sample to the
// end of the window, replacing whatever the entries before it wrote there;
// pulses add into their own slice. Rather than write the tail of the window
// once per step, render() first works out which entry finally owns each
// sample's base level: the last step (in collection order) whose first sample
// lies at or before it, or the resting level. It writes each base sample
// once, then adds every pulse only where its base belongs to an entry listed
// before it, which is exactly what the sequence of assignments and additions
// leaves behind. The IIR stages then run in one pass over W.
//
// A line without steps rests at one level, so render() goes along it range
// by range: the samples between pulses are streamed past the caches
// (stream.hpp), and each range of pulses is gridded, based and summed while
// it is in the cache, its pulses in collection order.
//
// === Numbers ===
//
// Each step is the numpy expression of the driver in its order of
// operations, with numpy's complex products (cplx.hpp). Envelopes and the
// carrier come from shapes.hpp and carrier.hpp.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>
#include "kernels/cplx.hpp"
#include "kernels/iir.hpp"
#include "kernels/shapes.hpp"

namespace halvane::kernels {

/// A level step, from sample `first` (clipped to the window) to the end.
struct LevelStep {
  std::size_t order;  ///< position in the collection
  std::size_t first;
  double x0 = 0, w = 0;  ///< sine_edge(X, x0, w) when `values` is null
  cdouble A{}, B{};      ///< the samples are A * edge + B
  const cdouble *values = nullptr;  ///< else the samples of [first, end), ready made
};

/// A pulse over the samples [first, end).
struct Pulse {
  std::size_t order;  ///< position in the collection
  std::size_t first, end;
  /// Ready-made contributions to W and S (both or neither); when null, the
  /// pulse is computed from the fields below.
  const cdouble *add_W = nullptr, *add_S = nullptr;
  Shape shape = Shape::square;
  ShapeParams params;
  std::size_t drag_first = 0, drag_count = 0;  ///< into LinePlan::drags
  cdouble K{};            ///< amp_scale * exp(1j * (phase + phase1))
  bool detuned = false;   ///< drag_detuning given and not 0
  double omega = 0;       ///< 2 * pi * drag_detuning
  double center = 0;      ///< (width + plateau) / 2 + pos
  double freq = 0;        ///< carrier frequency
};

struct LinePlan {
  std::vector<LevelStep> steps;
  std::vector<Pulse> pulses;
  std::vector<cdouble> drags;  ///< DRAG coefficients of all pulses, in order
  bool filter = false;         ///< run `stages` over W - rest, then add rest back
  std::vector<IirStage> stages;
};

/// The output arrays of one line and its grid.
struct Line {
  std::size_t n;
  double *X;
  cdouble *W, *S;         ///< S may be null: the envelope is then not kept
  bool grid_ready;       ///< X already holds the grid
  bool zeroed;           ///< W and S hold +0 already, so such samples need no writing
  double t0, t1;         ///< X = linspace(t0, t1, n, endpoint=False)
  double srate;
  cdouble rest;          ///< the resting level offset_global
  /// X is returned or read after rendering; if not, a line without level
  /// steps writes only the samples of X that its pulses read.
  bool grid_kept = true;
};

/// sh += 1j * gradient(sh) * srate * d, with gradient 0 * sh below two
/// samples; `scratch` holds n values.
void add_drag(cdouble *sh, std::size_t n, double srate, cdouble d, cdouble *scratch);

/// sh = K * sh * exp(1j * omega * (X - center)) (the last factor only when
/// detuned); `scratch` holds n values.
void rotate(cdouble *sh, const double *X, std::size_t n, cdouble K, bool detuned, double omega,
            double center, cdouble *scratch);

/// The envelope of a computed pulse through rotate(), without the carrier.
/// `scratch` holds 2 * (end - first) values.
void pulse_envelope(const Pulse &p, const LinePlan &plan, const double *X, double srate,
                    cdouble *out, cdouble *scratch);

/// Asked between pieces of render()'s work (a range of pulses, a pulse, or
/// at most poll_samples samples of a fill): true stops it.
using Stop = std::function<bool()>;
constexpr std::size_t poll_samples = std::size_t{1} << 18;

/// Fill X (unless ready), W and S as the plan says. Returns false when
/// `stop` stopped it, leaving X, W and S partly written.
bool render(const Line &line, const LinePlan &plan, const Stop &stop = {});

}  // namespace halvane::kernels
