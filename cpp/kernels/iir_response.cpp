// The response of IIR stages to a short input, added to a line.
#include "kernels/iir_response.hpp"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace halvane::kernels {

namespace {

constexpr std::size_t L = 512;  // samples per block of the free response

/// A (re, im) pair in one vector register, so that a real table entry
/// scales both parts at once.
typedef double pair __attribute__((vector_size(16)));

inline pair load(const cdouble *p) {
  pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store(cdouble *p, pair v) { std::memcpy(static_cast<void *>(p), &v, sizeof v); }

/// Two samples' (re, im) pairs in one register where the CPU has 256-bit
/// ones (written out in the loops: passed by value, it would change the ABI).
typedef double quad __attribute__((vector_size(32)));

bool real_stages(const IirStage *stages, std::size_t count) {
  for (std::size_t j = 0; j < count; ++j)
    if (stages[j].b0.imag() != 0 || stages[j].b1.imag() != 0 || stages[j].a1.imag() != 0) return false;
  return true;
}

/// States this small are always taken as 0: what they would still add lies
/// more than 250 orders of magnitude below the signal, and products of them
/// would reach the subnormal numbers, which the CPU takes a hundred times
/// longer over (a fast stage's state passes through them on every long tail).
constexpr double always_negligible = 0x1p-900;

/// Zero the states below `negligible`; true when all of them are zero.
bool drop_negligible(std::vector<cdouble> &z, double negligible) {
  bool zero = true;
  for (cdouble &v : z) {
    v = {std::fabs(v.real()) < negligible ? 0.0 : v.real(), std::fabs(v.imag()) < negligible ? 0.0 : v.imag()};
    zero = zero && v == cdouble{};
  }
  return zero;
}

bool finite(const std::vector<cdouble> &z) {
  for (const cdouble &v : z)
    if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) return false;
  return true;
}

/// One step of the chain with zero input from the states z; returns the output.
cdouble free_step(const IirStage *stages, std::size_t count, cdouble *z) {
  cdouble v{};
  for (std::size_t j = 0; j < count; ++j) {
    const IirStage &s = stages[j];
    const cdouble out = z[j] + cmul(s.b0, v);
    z[j] = cmul(s.b1, v) + cmul(s.a1, out);
    v = out;
  }
  return v;
}

/// out[i] = rest[i] + sum_j z[j] * T[j*w + i] for i < len, for real tables;
/// one and two stages, the common cases, in one pass. On x86-64 Linux the
/// loader picks an AVX2 build of it where the CPU has AVX2 (the same
/// products and sums in the same order, so the same bits).
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
void real_block(const cdouble *z, std::size_t count, const double *T, std::size_t w, const cdouble *rest,
                cdouble *out, std::size_t len, pair *__restrict acc) {
  // Two samples a step, then the odd one: the same products and sums.
  std::size_t i = 0;
  quad v;
  if (count == 1) {
    const pair s0 = {z[0].real(), z[0].imag()};
    const quad s0x2 = {s0[0], s0[1], s0[0], s0[1]};
    for (; i + 2 <= len; i += 2) {
      std::memcpy(&v, rest + i, sizeof v);
      v = v + s0x2 * quad{T[i], T[i], T[i + 1], T[i + 1]};
      std::memcpy(static_cast<void *>(out + i), &v, sizeof v);
    }
    for (; i < len; ++i) store(out + i, load(rest + i) + s0 * T[i]);
  } else if (count == 2) {
    const pair s0 = {z[0].real(), z[0].imag()}, s1 = {z[1].real(), z[1].imag()};
    const quad s0x2 = {s0[0], s0[1], s0[0], s0[1]}, s1x2 = {s1[0], s1[1], s1[0], s1[1]};
    const double *T1 = T + w;
    for (; i + 2 <= len; i += 2) {
      std::memcpy(&v, rest + i, sizeof v);
      v = v + (s0x2 * quad{T[i], T[i], T[i + 1], T[i + 1]} + s1x2 * quad{T1[i], T1[i], T1[i + 1], T1[i + 1]});
      std::memcpy(static_cast<void *>(out + i), &v, sizeof v);
    }
    for (; i < len; ++i) store(out + i, load(rest + i) + (s0 * T[i] + s1 * T1[i]));
  } else {
    std::fill(acc, acc + len, pair{0, 0});
    for (std::size_t j = 0; j < count; ++j) {
      const pair s = {z[j].real(), z[j].imag()};
      for (std::size_t k = 0; k < len; ++k) acc[k] += s * T[j * w + k];
    }
    for (; i < len; ++i) store(out + i, load(rest + i) + acc[i]);
  }
}

/// free_step for real stages and states.
double free_step_real(const IirStage *stages, std::size_t count, double *z) {
  double v = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const IirStage &s = stages[j];
    const double o = z[j] + s.b0.real() * v;
    z[j] = s.b1.real() * v + s.a1.real() * o;
    v = o;
  }
  return v;
}

/// out = rest + the free response, sample by sample from b on: for states
/// that are not finite, which the chain spreads as it does.
void exact_tail(const IirStage *stages, std::size_t count, std::vector<cdouble> &z, const cdouble *rest,
                cdouble *out, std::size_t b, std::size_t n) {
  for (std::size_t k = b; k < n; ++k) out[k] = rest[k] + free_step(stages, count, z.data());
}

}  // namespace

void iir_add_response(const IirStage *stages, std::size_t count, const cdouble *x, std::size_t m,
                      const cdouble *rest, cdouble *out, std::size_t n, double negligible) {
  negligible = std::max(negligible, always_negligible);
  // Added in place, a tail from states that are all negligible adds nothing.
  auto nothing_left = [&](std::vector<cdouble> &z) { return drop_negligible(z, negligible) && out == rest; };
  if (count == 0) {
    for (std::size_t k = 0; k < m; ++k) out[k] = rest[k] + x[k];
    if (out != rest) std::copy(rest + m, rest + n, out + m);
    return;
  }
  // The forced response goes through a buffer of its own: out may be rest.
  std::vector<cdouble> z(count), forced(x, x + m);
  if (m == n) {  // no free response: the blocked chain over the whole input
    iir_chain_about(forced.data(), n, cdouble{}, stages, count);
    for (std::size_t k = 0; k < n; ++k) out[k] = rest[k] + forced[k];
    return;
  }
  iir_chain_exact(stages, count, x, forced.data(), m, z.data());
  for (std::size_t k = 0; k < m; ++k) out[k] = rest[k] + forced[k];

  // T[j*w + i]: the output i steps after unit state j (w = the table's
  // width, L or less on a short tail); M[j*count + l]: state l after L
  // steps from unit state j. Real stages from a real unit state stay real.
  const std::size_t w = std::min(L, n - m);
  if (real_stages(stages, count)) {
    std::vector<double> T(count * w), M(count * count), u(count);
    for (std::size_t j = 0; j < count; ++j) {
      std::fill(u.begin(), u.end(), 0.0);
      u[j] = 1;
      for (std::size_t i = 0; i < w; ++i) T[j * w + i] = free_step_real(stages, count, u.data());
      std::copy(u.begin(), u.end(), M.begin() + static_cast<std::ptrdiff_t>(j * count));
    }
    std::vector<cdouble> next(count);
    std::vector<pair> acc(w);
    for (std::size_t b = m; b < n; b += L) {
      if (!finite(z)) return exact_tail(stages, count, z, rest, out, b, n);
      if (nothing_left(z)) return;
      real_block(z.data(), count, T.data(), w, rest + b, out + b, std::min(L, n - b), acc.data());
      std::fill(next.begin(), next.end(), cdouble{});
      for (std::size_t j = 0; j < count; ++j)
        for (std::size_t l = 0; l < count; ++l) next[l] += z[j] * M[j * count + l];
      z.swap(next);
    }
    return;
  }
  std::vector<cdouble> T(count * w), M(count * count), u(count), y(w), next(count);
  for (std::size_t j = 0; j < count; ++j) {
    std::fill(u.begin(), u.end(), cdouble{});
    u[j] = 1;
    for (std::size_t i = 0; i < w; ++i) T[j * w + i] = free_step(stages, count, u.data());
    std::copy(u.begin(), u.end(), M.begin() + static_cast<std::ptrdiff_t>(j * count));
  }
  for (std::size_t b = m; b < n; b += L) {
    if (!finite(z)) return exact_tail(stages, count, z, rest, out, b, n);
    if (nothing_left(z)) return;
    const std::size_t len = std::min(L, n - b);
    std::fill(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(len), cdouble{});
    for (std::size_t j = 0; j < count; ++j) {
      const cdouble s = z[j];
      const cdouble *t = &T[j * w];
      for (std::size_t i = 0; i < len; ++i) y[i] += cmul(s, t[i]);
    }
    for (std::size_t i = 0; i < len; ++i) out[b + i] = rest[b + i] + y[i];
    std::fill(next.begin(), next.end(), cdouble{});
    for (std::size_t j = 0; j < count; ++j)
      for (std::size_t l = 0; l < count; ++l) next[l] += cmul(z[j], M[j * count + l]);
    z.swap(next);
  }
}

}  // namespace halvane::kernels
