// The line renderer.
#include "kernels/render.hpp"
#include <algorithm>
#include <cmath>
#include <span>
#include "kernels/carrier.hpp"
#include "kernels/grid.hpp"
#include "kernels/pulse_loops.hpp"
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

/// render()'s Stop, asked until it answers true once.
class Halt {
 public:
  explicit Halt(const Stop &stop) : stop_(stop) {}
  bool operator()() { return halted_ || (stop_ && (halted_ = stop_())); }

  /// f(a, b) on [lo, hi) in pieces of at most poll_samples, asking between.
  template <class F>
  void pieces(std::size_t lo, std::size_t hi, F f) {
    for (std::size_t a = lo; a < hi && !(*this)(); a += poll_samples) f(a, std::min(hi, a + poll_samples));
  }

 private:
  const Stop &stop_;
  bool halted_ = false;
};

/// The samples the pulses add into, as sorted and disjoint ranges (gaps too
/// short to stream closed), each with its pulses in collection order:
/// members[starts[r]:starts[r + 1]] index the pulses of ranges[r].
struct PulseGroups {
  std::vector<Range> ranges;
  std::vector<std::size_t> starts, members;
};

PulseGroups pulse_groups(const LinePlan &plan) {
  constexpr std::size_t min_gap = 64;
  PulseGroups g;
  std::vector<std::size_t> idx;
  idx.reserve(plan.pulses.size());
  for (std::size_t i = 0; i < plan.pulses.size(); ++i)
    if (plan.pulses[i].end > plan.pulses[i].first) idx.push_back(i);
  std::stable_sort(idx.begin(), idx.end(),
                   [&](std::size_t a, std::size_t b) { return plan.pulses[a].first < plan.pulses[b].first; });
  for (std::size_t i : idx) {
    const Pulse &p = plan.pulses[i];
    if (!g.ranges.empty() && p.first <= g.ranges.back().end + min_gap) {
      g.ranges.back().end = std::max(g.ranges.back().end, p.end);
    } else {
      g.ranges.push_back({p.first, p.end});
      g.starts.push_back(g.members.size());
    }
    g.members.push_back(i);
  }
  g.starts.push_back(g.members.size());
  for (std::size_t r = 0; r + 1 < g.starts.size(); ++r)
    std::sort(g.members.begin() + static_cast<std::ptrdiff_t>(g.starts[r]),
              g.members.begin() + static_cast<std::ptrdiff_t>(g.starts[r + 1]));
  return g;
}

/// W[lo:hi] = S[lo:hi] = v (streamed past the caches when `streamed`),
/// skipping what they hold already.
void fill_base(const Line &line, std::size_t lo, std::size_t hi, cdouble v, bool streamed) {
  if (line.zeroed && v == cdouble{} && !std::signbit(v.real()) && !std::signbit(v.imag())) return;
  for (cdouble *out : {line.W, line.S}) {
    if (!out) continue;
    if (streamed)
      stream_fill(out + lo, hi - lo, v);
    else
      std::fill(out + lo, out + hi, v);
  }
}

/// fill_base, streamed on a line too large for the caches except over `cached`.
void fill_base(const Line &line, std::span<const Range> cached, std::size_t lo, std::size_t hi, cdouble v,
               Halt &halt) {
  const Range all{0, line.n};
  pieces(streams(line.n * sizeof(cdouble)) ? cached : std::span<const Range>(&all, 1), lo, hi,
         [&](std::size_t a, std::size_t b, bool streamed) {
           halt.pieces(a, b, [&](std::size_t c, std::size_t d) { fill_base(line, c, d, v, streamed); });
         });
}

void write_base(const Line &line, std::span<const Range> cached, const Segment &s, cdouble *scratch, Halt &halt) {
  if (!s.step) return fill_base(line, cached, s.begin, s.end, line.rest, halt);
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
    fill_base(line, cached, s.begin, lo, before, halt);
    fill_base(line, cached, hi, s.end, after, halt);
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
  const std::size_t k = lo - p.first;
  if (cr) {
    detail::pulse_loops().add_product(line.W + lo, sh + k, cr + k, hi - lo);
  } else {
    for (std::size_t i = lo; i < hi; ++i) line.W[i] += p.add_W[i - p.first];
  }
  if (line.S) detail::pulse_loops().add(line.S + lo, sh + k, hi - lo);
}

}  // namespace

const detail::PulseLoops &detail::pulse_loops() {
  return vmath::for_active_isa(avx512_pulse_loops, avx2_pulse_loops, baseline_pulse_loops);
}

void add_drag(cdouble *sh, std::size_t n, double srate, cdouble d, cdouble *scratch) {
  // A zero coefficient adds exact zeros to a finite envelope.
  if (d == cdouble{} && all_finite(sh, n)) return;
  if (n >= 2) {
    gradient(sh, n, scratch);
  } else {
    for (std::size_t k = 0; k < n; ++k) scratch[k] = cmul(cdouble{0, 0}, sh[k]);
  }
  detail::pulse_loops().drag_sum(sh, scratch, n, srate, d);
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
  detail::pulse_loops().rotate(sh, scratch, n, K);
}

void pulse_envelope(const Pulse &p, const LinePlan &plan, const double *X, double srate,
                    cdouble *out, cdouble *scratch) {
  const std::size_t n = p.end - p.first;
  envelope(p.shape, p.params, X + p.first, n, out);
  for (std::size_t j = 0; j < p.drag_count; ++j)
    add_drag(out, n, srate, plan.drags[p.drag_first + j], scratch);
  rotate(out, X + p.first, n, p.K, p.detuned, p.omega, p.center, scratch);
}

namespace {

/// Working space for the pulses: envelope, carrier and scratch.
struct PulseBuffers {
  std::vector<cdouble> sh, cr, scratch;
  explicit PulseBuffers(const LinePlan &plan) {
    std::size_t longest = chunk;
    for (const Pulse &p : plan.pulses) longest = std::max(longest, p.end - p.first);
    sh.resize(longest);
    cr.resize(longest);
    scratch.resize(2 * longest);
  }
};

void add_pulse(const Line &line, const LinePlan &plan, const std::vector<Segment> &segs, const Pulse &p,
               PulseBuffers &b) {
  if (p.end <= p.first) return;
  const cdouble *psh = p.add_S, *pcr = nullptr;
  if (!p.add_S) {
    pulse_envelope(p, plan, line.X, line.srate, b.sh.data(), b.scratch.data());
    carrier(line.X + p.first, p.end - p.first, p.freq, 0, 0, b.cr.data());
    psh = b.sh.data();
    pcr = b.cr.data();
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

/// Samples of a range worked out apart from the line (see render()).
constexpr std::size_t window_samples = 16384;

struct Window {
  std::size_t size;
  std::vector<double> X;
  std::vector<cdouble> W, S;
  explicit Window(std::size_t n) : size(n), X(n), W(n), S(n) {}
};

/// The pulses `members` (in collection order) of the range [lo, hi) on the
/// resting level, in `win`, then streamed into the line.
void add_in_window(const Line &line, const LinePlan &plan, std::span<const std::size_t> members,
                   std::size_t lo, std::size_t hi, double step, Window &win, PulseBuffers &bufs) {
  const std::size_t m = hi - lo;
  double *X = line.X + lo;
  if (!line.grid_ready) {
    if (!line.grid_kept) X = win.X.data();
    grid_part(line.t0, step, lo, hi, X, false);
  }
  const Line sub{m, X, win.W.data(), line.S ? win.S.data() : nullptr, true, false,
                 line.t0, line.t1, line.srate, line.rest, true};
  for (cdouble *out : {sub.W, sub.S})
    if (out) std::fill(out, out + m, line.rest);
  const std::vector<Segment> segs{{0, m, -1, nullptr}};
  for (std::size_t i : members) {
    Pulse p = plan.pulses[i];
    p.first -= lo;
    p.end -= lo;
    add_pulse(sub, plan, segs, p, bufs);
  }
  stream_copy(sub.W, m, line.W + lo);
  if (line.S) stream_copy(sub.S, m, line.S + lo);
}

}  // namespace

bool render(const Line &line, const LinePlan &plan, const Stop &stop) {
  Halt halt(stop);
  const PulseGroups groups = pulse_groups(plan);
  PulseBuffers bufs(plan);
  const std::vector<Segment> segs = base_segments(plan, line.n);
  const bool big = streams(line.n * sizeof(cdouble));

  if (plan.steps.empty()) {
    // The base is the resting level throughout, so each range of pulses is
    // gridded, based and added up while its samples stay in the cache, and
    // the samples between are streamed. Pulses add in collection order
    // within their range, and no pulse reaches outside it. On a large line
    // a short range is worked out in a window of its own and then streamed
    // into place, so that its samples need not first be read from memory.
    const double step = linspace_step(line.t0, line.t1, line.n);
    Window win(big ? window_samples : 0);
    std::size_t r = 0;
    const Range all{0, line.n};
    pieces(big ? std::span<const Range>(groups.ranges) : std::span<const Range>(&all, 1), 0, line.n,
           [&](std::size_t lo, std::size_t hi, bool streamed) {
             if (streamed) {
               halt.pieces(lo, hi, [&](std::size_t a, std::size_t b) {
                 if (!line.grid_ready && line.grid_kept) grid_part(line.t0, step, a, b, line.X + a, true);
                 fill_base(line, a, b, line.rest, true);
               });
               return;
             }
             if (halt()) return;
             // Without streaming the whole line is one piece.
             const std::size_t r0 = big ? r : 0, r1 = big ? r + 1 : groups.ranges.size();
             r = r1;
             const std::span<const std::size_t> members(groups.members.data() + groups.starts[r0],
                                                        groups.starts[r1] - groups.starts[r0]);
             if (hi - lo <= win.size) return add_in_window(line, plan, members, lo, hi, step, win, bufs);
             halt.pieces(lo, hi, [&](std::size_t a, std::size_t b) {
               if (!line.grid_ready) grid_part(line.t0, step, a, b, line.X + a, false);
               fill_base(line, a, b, line.rest, false);
             });
             for (std::size_t m : members)
               if (!halt()) add_pulse(line, plan, segs, plan.pulses[m], bufs);
           });
  } else {
    if (!line.grid_ready) linspace(line.t0, line.t1, line.n, line.X, groups.ranges);
    for (const Segment &s : segs)
      if (!halt()) write_base(line, groups.ranges, s, bufs.scratch.data(), halt);
    for (const Pulse &p : plan.pulses)
      if (!halt()) add_pulse(line, plan, segs, p, bufs);
  }
  stream_fence();

  if (halt()) return false;
  if (plan.filter) iir_chain_about(line.W, line.n, line.rest, plan.stages.data(), plan.stages.size());
  return true;
}

}  // namespace halvane::kernels
