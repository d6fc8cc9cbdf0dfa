// First-order IIR stages.
//
// A stage is one recursion per sample, so a plain loop waits on the latency
// of each step. Stages with real coefficients on complex samples run blocked
// instead: a block of samples is cut into segments, each segment is filtered
// from rest, all segments side by side (independent chains that the CPU
// overlaps), and then segment p gets a1^k times the state that truly enters
// it added to its k-th sample; the state entering p + 1 follows from the one
// entering p as zs_p + a1^L * z_p. Only segment 0 starts from the true state,
// so the others differ from the reference's order of operations by rounding
// alone (a few units in the last place of the signal's magnitude).
//
// NaN and infinity: a block whose input or output holds a value that is not
// finite is filtered again, from the state before it, by complex products in
// the reference's exact order, and so is everything after it; they spread NaN
// and infinity as the reference does (an infinite sample gives NaN in the part
// that the reference multiplies by a zero imaginary coefficient). Stages with
// complex coefficients always take that path. Signals shorter than a block
// take it too. Real samples run the same way, eight segments side by side,
// with the reference's real loop as the exact path.
#include "kernels/iir.hpp"
#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <vector>

namespace halvane::kernels {

namespace {

constexpr std::size_t segments = 4;     // chains side by side
constexpr std::size_t seg_len = 256;    // samples per segment
constexpr std::size_t block = segments * seg_len;

/// The stages by complex products, sample by sample from z (updated), for
/// y[k] = stages(x[k*stride] - in_off) + out_off, k in [0, n).
void exact(const IirStage *stages, std::size_t count, cdouble in_off, cdouble out_off, const cdouble *x,
           std::ptrdiff_t stride, cdouble *y, std::size_t n, cdouble *z) {
  for (std::size_t k = 0; k < n; ++k) {
    cdouble v = x[static_cast<std::ptrdiff_t>(k) * stride] - in_off;
    for (std::size_t j = 0; j < count; ++j) {
      const IirStage &s = stages[j];
      const cdouble out = z[j] + cmul(s.b0, v);
      z[j] = cmul(s.b1, v) + cmul(s.a1, out);
      v = out;
    }
    y[k] = v + out_off;
  }
}

/// A (re, im) pair in one vector register, so that real coefficients act on
/// both parts at once.
typedef double pair __attribute__((vector_size(16)));

inline pair load(const double *p) {
  pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store(double *p, pair v) { std::memcpy(p, &v, sizeof v); }

/// One real stage over one block of interleaved (re, im) values in place;
/// `pw` holds a1^k for k in [0, seg_len], `z` the stage's state (re, im).
void blocked_stage(double *w, double b0_, double b1_, double a1_, const double *pw, double *z) {
  static_assert(segments == 4, "the loop below runs four segments");
  const pair b0 = {b0_, b0_}, b1 = {b1_, b1_}, a1 = {a1_, a1_};
  double *s0 = w, *s1 = w + 2 * seg_len, *s2 = w + 4 * seg_len, *s3 = w + 6 * seg_len;
  // Segment 0 starts from the true state, the others from rest.
  pair z0 = load(z), z1 = {0, 0}, z2 = {0, 0}, z3 = {0, 0};
  for (std::size_t k = 0; k < 2 * seg_len; k += 2) {
    const pair x0 = load(s0 + k), x1 = load(s1 + k), x2 = load(s2 + k), x3 = load(s3 + k);
    const pair y0 = z0 + b0 * x0, y1 = z1 + b0 * x1, y2 = z2 + b0 * x2, y3 = z3 + b0 * x3;
    z0 = b1 * x0 + a1 * y0;
    z1 = b1 * x1 + a1 * y1;
    z2 = b1 * x2 + a1 * y2;
    z3 = b1 * x3 + a1 * y3;
    store(s0 + k, y0);
    store(s1 + k, y1);
    store(s2 + k, y2);
    store(s3 + k, y3);
  }
  const double zs[2 * segments] = {z0[0], z0[1], z1[0], z1[1], z2[0], z2[1], z3[0], z3[1]};
  const double aL = pw[seg_len];  // a1^L
  double zin[2] = {zs[0], zs[1]};  // the state entering segment 1
  for (std::size_t p = 1; p < segments; ++p) {
    double *seg = w + p * 2 * seg_len;
    for (std::size_t k = 0; k < seg_len; ++k) {
      seg[2 * k] += pw[k] * zin[0];
      seg[2 * k + 1] += pw[k] * zin[1];
    }
    zin[0] = zs[2 * p] + aL * zin[0];
    zin[1] = zs[2 * p + 1] + aL * zin[1];
  }
  z[0] = zin[0];
  z[1] = zin[1];
}

constexpr std::size_t real_segments = 8;
constexpr std::size_t real_block = real_segments * seg_len;

/// blocked_stage for real values: eight segments of seg_len values side by
/// side, then the same correction by the state entering each.
void real_blocked_stage(double *w, double b0, double b1, double a1, const double *pw, double &z) {
  double zs[real_segments] = {z};  // segment 0 from the true state, the others from rest
  for (std::size_t k = 0; k < seg_len; ++k) {
    for (std::size_t p = 0; p < real_segments; ++p) {
      double &v = w[p * seg_len + k];
      const double x = v, y = zs[p] + b0 * x;
      zs[p] = b1 * x + a1 * y;
      v = y;
    }
  }
  double zin = zs[0];
  for (std::size_t p = 1; p < real_segments; ++p) {
    double *seg = w + p * seg_len;
    for (std::size_t k = 0; k < seg_len; ++k) seg[k] += pw[k] * zin;
    zin = zs[p] + pw[seg_len] * zin;
  }
  z = zin;
}

bool real_stages(const IirStage *stages, std::size_t count) {
  for (std::size_t j = 0; j < count; ++j)
    if (stages[j].b0.imag() != 0 || stages[j].b1.imag() != 0 || stages[j].a1.imag() != 0) return false;
  return true;
}

void chain(const cdouble *x, std::ptrdiff_t stride, cdouble *y, std::size_t n, cdouble offset,
           const IirStage *stages, std::size_t count) {
  if (count == 0) {  // still (w - offset) + offset, sample by sample
    for (std::size_t k = 0; k < n; ++k) y[k] = (x[static_cast<std::ptrdiff_t>(k) * stride] - offset) + offset;
    return;
  }
  std::vector<cdouble> z(count);
  std::size_t k0 = 0;
  if (real_stages(stages, count) && n >= block) {
    std::vector<double> pw(count * (seg_len + 1));
    for (std::size_t j = 0; j < count; ++j)
      for (std::size_t k = 0; k <= seg_len; ++k)
        pw[j * (seg_len + 1) + k] = std::pow(stages[j].a1.real(), static_cast<double>(k));
    std::vector<cdouble> zsaved(count);
    std::array<double, 2 * block> w;
    const pair off = {offset.real(), offset.imag()};
    for (; k0 + block <= n; k0 += block) {
      const cdouble *xb = x + static_cast<std::ptrdiff_t>(k0) * stride;
      for (std::size_t k = 0; k < block; ++k)
        store(&w[2 * k], load(reinterpret_cast<const double *>(xb + static_cast<std::ptrdiff_t>(k) * stride)) - off);
      zsaved = z;
      for (std::size_t j = 0; j < count; ++j) {
        double zr[2] = {z[j].real(), z[j].imag()};
        blocked_stage(w.data(), stages[j].b0.real(), stages[j].b1.real(), stages[j].a1.real(),
                      &pw[j * (seg_len + 1)], zr);
        z[j] = {zr[0], zr[1]};
      }
      // A sample that is not finite on input is not finite on output either
      // (b0 * x is then NaN or infinite), so the output alone is checked: a
      // sum of it is finite when all its values are (or, rarely, overflows,
      // which only sends a finite block to the exact path as well).
      pair sum[4] = {};
      for (std::size_t k = 0; k < 2 * block; k += 8)
        for (std::size_t l = 0; l < 4; ++l) sum[l] += load(&w[k + 2 * l]);
      const pair t = ((sum[0] + sum[1]) + (sum[2] + sum[3])) * 0.0;
      const auto bad = t != t;
      if (bad[0] | bad[1]) {  // this block and the rest by the exact path, from the state before it
        z = zsaved;
        break;
      }
      // Written only now: filtering in place, x still holds this block's input.
      for (std::size_t k = 0; k < block; ++k) store(reinterpret_cast<double *>(y + k0 + k), load(&w[2 * k]) + off);
    }
  }
  exact(stages, count, offset, offset, x + static_cast<std::ptrdiff_t>(k0) * stride, stride, y + k0, n - k0,
        z.data());
}

}  // namespace

void iir_filter(const IirStage &s, const double *x, std::ptrdiff_t stride, std::size_t n,
                double *y) {
  const double b0 = s.b0.real(), b1 = s.b1.real(), a1 = s.a1.real();
  double z = 0;
  std::size_t k0 = 0;
  if (n >= real_block) {
    double pw[seg_len + 1];
    for (std::size_t k = 0; k <= seg_len; ++k) pw[k] = std::pow(a1, static_cast<double>(k));
    std::array<double, real_block> w;
    for (; k0 + real_block <= n; k0 += real_block) {
      for (std::size_t k = 0; k < real_block; ++k) w[k] = x[static_cast<std::ptrdiff_t>(k0 + k) * stride];
      const double zsaved = z;
      real_blocked_stage(w.data(), b0, b1, a1, pw, z);
      double sum[4] = {};  // finite unless a value is not (see chain below)
      for (std::size_t k = 0; k < real_block; k += 4)
        for (std::size_t l = 0; l < 4; ++l) sum[l] += w[k + l];
      const double t = ((sum[0] + sum[1]) + (sum[2] + sum[3])) * 0.0;
      if (t != t) {  // this block and the rest by the reference's own loop
        z = zsaved;
        break;
      }
      std::copy(w.begin(), w.end(), y + k0);
    }
  }
  for (std::size_t k = k0; k < n; ++k) {
    const double xk = x[static_cast<std::ptrdiff_t>(k) * stride];
    const double yk = z + b0 * xk;
    z = b1 * xk + a1 * yk;
    y[k] = yk;
  }
}

void iir_filter(const IirStage &s, const cdouble *x, std::ptrdiff_t stride, std::size_t n,
                cdouble *y) {
  chain(x, stride, y, n, cdouble{}, &s, 1);
}

void iir_chain_exact(const IirStage *stages, std::size_t count, const cdouble *x, cdouble *y, std::size_t n,
                     cdouble *z) {
  exact(stages, count, cdouble{}, cdouble{}, x, 1, y, n, z);
}

void iir_chain_about(cdouble *w, std::size_t n, cdouble offset, const IirStage *stages,
                     std::size_t count) {
  chain(w, 1, w, n, offset, stages, count);
}

}  // namespace halvane::kernels
