// The line renderer.
#include "kernels/render.hpp"
#include <algorithm>
#include <cmath>
#include <span>
#include "kernels/carrier.hpp"
#include "kernels/grid.hpp"
#include "kernels/stream.hpp"
#include "kernels/vmath.hpp"

namespace halvane::kernels {

namespace {

/// A run of samples whose base level belongs to one entry (-1: the rest level).
struct Segment {
  std::size_t begin, end;
  std::ptrdiff_t order;
  const LevelStep *step;
};

std::vector<Segment> base_segments(const LinePlan &plan, std::size_t n) {
  std::vector<Segment> segs;
  std::size_t lim = n;
  for (auto it = plan.steps.rbegin(); it != plan.steps.rend(); ++it) {
    if (it->first < lim) {
      segs.push_back({it->first, lim, static_cast<std::ptrdiff_t>(it->order), &*it});
      lim = it->first;
    }
  }
  if (lim > 0) segs.push_back({0, lim, -1, nullptr});
  std::reverse(segs.begin(), segs.end());
  return segs;
}

constexpr std::size_t chunk = 2048;

/// The samples the pulses add into, which are read again right after the
/// base is written: sorted and disjoint, with gaps too short to stream closed.
std::vector<Range> pulse_ranges(const LinePlan &plan) {
  constexpr std::size_t min_gap = 64;
  std::vector<Range> r;
  r.reserve(plan.pulses.size());
  for (const Pulse &p : plan.pulses)
    if (p.end > p.first) r.push_back({p.first, p.end});
  std::sort(r.begin(), r.end(), [](const Range &a, const Range &b) { return a.begin < b.begin; });
  std::vector<Range> merged;
  for (const Range &x : r) {
    if (!merged.empty() && x.begin <= merged.back().end + min_gap)
      merged.back().end = std::max(merged.back().end, x.end);
    else
      merged.push_back(x);
  }
  return merged;
}

/// W[lo:hi] = S[lo:hi] = v, skipping what they hold already.
void fill_base(const Line &line, std::span<const Range> cached, std::size_t lo, std::size_t hi, cdouble v) {
  if (line.zeroed && v == cdouble{} && !std::signbit(v.real()) && !std::signbit(v.imag())) return;
  const Range all{0, line.n};
  pieces(streams(line.n * sizeof(cdouble)) ? cached : std::span<const Range>(&all, 1), lo, hi,
         [&](std::size_t a, std::size_t b, bool streamed) {
           for (cdouble *out : {line.W, line.S}) {
             if (!out) continue;
             if (streamed)
               stream_fill(out + a, b - a, v);
             else
               std::fill(out + a, out + b, v);
           }
         });
}

void write_base(const Line &line, std::span<const Range> cached, const Segment &s, cdouble *scratch) {
  if (!s.step) return fill_base(line, cached, s.begin, s.end, line.rest);
  const LevelStep &st = *s.step;
  if (st.values) {
    std::copy(st.values + (s.begin - st.first), st.values + (s.end - st.first), line.W + s.begin);
    if (line.S) std::copy(st.values + (s.begin - st.first), st.values + (s.end - st.first), line.S + s.begin);
    return;
  }
  // Before its window the edge is exactly 0 and after it exactly 1 when the
  // window and the levels are finite, so on an increasing grid only the
  // window's samples (found by the edge's own comparisons) need the kernel.
  std::size_t lo = s.begin, hi = s.end;
  const bool finite = std::isfinite(st.x0) && std::isfinite(st.w) && std::isfinite(st.A.real()) &&
                      std::isfinite(st.A.imag()) && std::isfinite(st.B.real()) &&
                      std::isfinite(st.B.imag());
  if (finite && line.t1 > line.t0) {
    const double w = st.w > 1e-10 ? st.w : 1e-10;
    const double left = st.x0 - w / 2, right = st.x0 + w / 2;
    const double *X = line.X;
    lo = static_cast<std::size_t>(
        std::partition_point(X + s.begin, X + s.end, [&](double x) { return !(x >= left); }) - X);
    hi = static_cast<std::size_t>(
        std::partition_point(X + lo, X + s.end, [&](double x) { return !(x >= right); }) - X);
    const cdouble before = cmul(st.A, cdouble{0, 0}) + st.B, after = cmul(st.A, cdouble{1, 0}) + st.B;
    fill_base(line, cached, s.begin, lo, before);
    fill_base(line, cached, hi, s.end, after);
  }
  for (std::size_t b = lo; b < hi; b += chunk) {
    const std::size_t m = std::min(chunk, hi - b);
    sine_edge(line.X + b, m, st.x0, st.w, 0, 1, scratch);
    for (std::size_t k = 0; k < m; ++k) {
      const cdouble v = cmul(st.A, scratch[k]) + st.B;
      line.W[b + k] = v;
      if (line.S) line.S[b + k] = v;
    }
  }
}

bool all_finite(const cdouble *x, std::size_t n) {
  bool ok = true;
  for (std::size_t k = 0; k < n; ++k) ok &= std::isfinite(x[k].real()) & std::isfinite(x[k].imag());
  return ok;
}

/// Add `sh` (and `sh * cr`, or add_W) over [lo, hi) of the pulse's slice.
void accumulate(const Line &line, const Pulse &p, const cdouble *sh, const cdouble *cr,
                std::size_t lo, std::size_t hi) {
  for (std::size_t i = lo; i < hi; ++i) {
    const std::size_t k = i - p.first;
    line.W[i] += cr ? cmul(sh[k], cr[k]) : p.add_W[k];
  }
  if (line.S)
    for (std::size_t i = lo; i < hi; ++i) line.S[i] += sh[i - p.first];
}

}  // namespace

void add_drag(cdouble *sh, std::size_t n, double srate, cdouble d, cdouble *scratch) {
  // A zero coefficient adds exact zeros to a finite envelope.
  if (d == cdouble{} && all_finite(sh, n)) return;
  if (n >= 2) {
    gradient(sh, n, scratch);
  } else {
    for (std::size_t k = 0; k < n; ++k) scratch[k] = cmul(cdouble{0, 0}, sh[k]);
  }
  for (std::size_t k = 0; k < n; ++k)
    sh[k] += cmul(cmul(cmul(cdouble{0, 1}, scratch[k]), cdouble{srate, 0}), d);
}

void rotate(cdouble *sh, const double *X, std::size_t n, cdouble K, bool detuned, double omega,
            double center, cdouble *scratch) {
  if (detuned) {
    double *arg = reinterpret_cast<double *>(scratch + n);  // the upper half of scratch
    for (std::size_t k = 0; k < n; ++k) arg[k] = omega * (X[k] - center);
    vmath::cis(arg, n, scratch);
  } else {
    std::fill(scratch, scratch + n, cdouble{1, 0});
  }
  for (std::size_t k = 0; k < n; ++k) sh[k] = cmul(cmul(K, sh[k]), scratch[k]);
}

void pulse_envelope(const Pulse &p, const LinePlan &plan, const double *X, double srate,
                    cdouble *out, cdouble *scratch) {
  const std::size_t n = p.end - p.first;
  envelope(p.shape, p.params, X + p.first, n, out);
  for (std::size_t j = 0; j < p.drag_count; ++j)
    add_drag(out, n, srate, plan.drags[p.drag_first + j], scratch);
  rotate(out, X + p.first, n, p.K, p.detuned, p.omega, p.center, scratch);
}

void render(const Line &line, const LinePlan &plan) {
  const std::vector<Range> cached = pulse_ranges(plan);
  if (!line.grid_ready) linspace(line.t0, line.t1, line.n, line.X, cached);

  std::size_t longest = chunk;
  for (const Pulse &p : plan.pulses) longest = std::max(longest, p.end - p.first);
  std::vector<cdouble> sh(longest), cr(longest), scratch(2 * longest);

  const std::vector<Segment> segs = base_segments(plan, line.n);
  for (const Segment &s : segs) write_base(line, cached, s, scratch.data());
  stream_fence();

  for (const Pulse &p : plan.pulses) {
    if (p.end <= p.first) continue;
    const cdouble *psh = p.add_S, *pcr = nullptr;
    if (!p.add_S) {
      pulse_envelope(p, plan, line.X, line.srate, sh.data(), scratch.data());
      carrier(line.X + p.first, p.end - p.first, p.freq, 0, 0, cr.data());
      psh = sh.data();
      pcr = cr.data();
    }
    // The base of the segments that a later step owns was written after this
    // pulse was added, so the pulse survives only on earlier entries' bases.
    auto it = std::upper_bound(segs.begin(), segs.end(), p.first,
                               [](std::size_t i, const Segment &s) { return i < s.begin; });
    for (--it; it != segs.end() && it->begin < p.end; ++it) {
      if (it->order >= static_cast<std::ptrdiff_t>(p.order)) continue;
      accumulate(line, p, psh, pcr, std::max(it->begin, p.first), std::min(it->end, p.end));
    }
  }

  if (plan.filter) iir_chain_about(line.W, line.n, line.rest, plan.stages.data(), plan.stages.size());
}

}  // namespace halvane::kernels
