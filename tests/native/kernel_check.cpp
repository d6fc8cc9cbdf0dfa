// The scalar kernels against known results, bit for bit: a standalone program
// (no Python) that CI runs natively and, cross-compiled, on other CPUs under
// an emulator. Each case hashes the exact bits of a kernel's output on a fixed
// input; the expected hashes are those of the x86-64 build's scalar path.
//   halvane_kernel_check            check every case
//   halvane_kernel_check --print    print the hashes (to update the table)
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kernels/carrier.hpp"
#include "kernels/cplx.hpp"
#include "kernels/grid.hpp"
#include "kernels/iir.hpp"
#include "kernels/shapes.hpp"
#include "kernels/vmath.hpp"

namespace hk = halvane::kernels;
using cd = std::complex<double>;

namespace {

/// FNV-1a over the bytes of the samples.
template <class T>
std::uint64_t bits(const std::vector<T> &v) {
  std::uint64_t h = 1469598103934665603ull;
  const auto *p = reinterpret_cast<const unsigned char *>(v.data());
  for (std::size_t k = 0; k < v.size() * sizeof(T); ++k) h = (h ^ p[k]) * 1099511628211ull;
  return h;
}

/// 600 sample times at 2 GS/s from -20 ns: a pulse's edges, plateau and surroundings.
std::vector<double> times() {
  std::vector<double> X(600);
  hk::linspace(-20e-9, 280e-9, X.size(), X.data());
  return X;
}

std::uint64_t envelope(hk::Shape s) {
  const auto X = times();
  hk::ShapeParams p;
  p.pos = 10e-9, p.width = 40e-9, p.plateau = 60e-9, p.amp = {0.5, -0.25};
  p.scale_a = 0.1, p.scale_b = 0.9, p.left_scale = 1.5, p.right_scale = 0.5, p.epsilon = {0.2, 0};
  std::vector<cd> out(X.size());
  hk::envelope(s, p, X.data(), X.size(), out.data());
  return bits(out);
}

std::uint64_t carrier() {
  const auto X = times();
  std::vector<cd> out(X.size());
  hk::carrier(X.data(), X.size(), 5.125e9, 0.01, -0.02, out.data());
  return bits(out);
}

std::uint64_t iir() {
  std::vector<cd> w(600);
  for (std::size_t k = 0; k < w.size(); ++k) w[k] = {k >= 100 ? 0.3 : 0.0, k >= 350 ? -0.1 : 0.0};
  const hk::IirStage stages[] = {{{1.02, 0}, {-0.98, 0}, {0.96, 0}}, {{0.9, 0}, {0.05, 0}, {0.05, 0}}};
  hk::iir_chain_about(w.data(), w.size(), {0.01, 0}, stages, 2);
  return bits(w);
}

std::uint64_t gradient() {
  const auto X = times();
  std::vector<double> f(X.size()), g(X.size());
  for (std::size_t k = 0; k < X.size(); ++k) f[k] = X[k] * X[k] * 1e15;
  hk::gradient(f.data(), f.size(), g.data());
  return bits(g);
}

struct Case {
  const char *name;
  std::uint64_t (*run)();
  std::uint64_t expected;
};

const Case cases[] = {
    {"linspace", [] { return bits(times()); }, 0xd2475c121a2c5891ull},
    {"square", [] { return envelope(hk::Shape::square); }, 0xcc69901999cf4b83ull},
    {"sine", [] { return envelope(hk::Shape::sine); }, 0x22b6feda9a55466bull},
    {"cos", [] { return envelope(hk::Shape::cosine); }, 0xfcc60c7ad5db5157ull},
    {"hcos", [] { return envelope(hk::Shape::hcosine); }, 0x6f2ded0b6c6a597full},
    {"hcos_asys", [] { return envelope(hk::Shape::hcosine_asys); }, 0x97a637017d88fb27ull},
    {"sinedpi", [] { return envelope(hk::Shape::sine2pi); }, 0x967e03f9ae80e3ebull},
    {"tanh", [] { return envelope(hk::Shape::tanh); }, 0x0683dda82d9f5cbbull},
    {"hyper", [] { return envelope(hk::Shape::hyper); }, 0xa3b95e9bf0af07b3ull},
    {"carrier", carrier, 0x4a20dbe87544e98eull},
    {"iir", iir, 0x584a969404ff8d8dull},
    {"gradient", gradient, 0x44bf1638f3a1587aull},
};

}  // namespace

int main(int argc, char **argv) {
  hk::vmath::use_isa(hk::vmath::Isa::scalar);
  const bool print = argc > 1 && std::strcmp(argv[1], "--print") == 0;
  int passed = 0, failed = 0;
  for (const Case &c : cases) {
    const std::uint64_t h = c.run();
    if (print) {
      std::printf("    {\"%s\", ..., 0x%016llxull},\n", c.name, static_cast<unsigned long long>(h));
    } else if (h == c.expected) {
      ++passed;
    } else {
      ++failed;
      std::printf("FAILED %s: 0x%016llx, expected 0x%016llx\n", c.name, static_cast<unsigned long long>(h),
                  static_cast<unsigned long long>(c.expected));
    }
  }
  if (!print) std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
