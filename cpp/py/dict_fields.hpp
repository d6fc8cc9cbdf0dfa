// Several keys of an exact dict found in one walk over its items.
//
// A lookup hashes and probes once per key; a walk visits each item once and
// tells the wanted keys apart by identity. The keys that programs write are
// a few str objects used again and again (interned by the compiler, or
// shared by one template), so each new key object is compared by value
// once and then known by its address. The table holds a reference to every
// key it knows, so no other object can take over a known address while it
// lives. A dict with a key that is not an exact str (whose == could say
// anything) is read by one lookup per wanted key instead.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include "py/errors.hpp"

namespace halvane::py {

template <std::size_t N>
class DictFields {
 public:
  using Values = std::array<PyObject *, N>;

  explicit DictFields(const std::array<const char *, N> &names) {
    for (std::size_t i = 0; i < N; ++i) names_[i] = steal_or_throw(PyUnicode_InternFromString(names[i]));
  }

  /// The wanted key `i` as a str.
  nb::handle name(std::size_t i) const { return names_[i]; }

  /// The values of the wanted keys in `d`, an exact dict, borrowed from it;
  /// nullptr where a key is absent. With `prefetch`, every value's memory is
  /// asked for as the walk passes it, for a caller about to use them all.
  Values find(PyObject *d, bool prefetch = false) {
    Values values{};
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(d, &pos, &k, &v)) {
#if defined(__GNUC__) || defined(__clang__)
      if (prefetch) __builtin_prefetch(v, 1);
#endif
      if (!PyUnicode_CheckExact(k)) return lookup(d);
      if (int i = field(k); i >= 0) values[static_cast<std::size_t>(i)] = v;
    }
    return values;
  }

  /// How many dicts were read by lookups, which may run a key's own ==.
  std::size_t lookups() const { return lookups_; }

 private:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kKnownAtMost = 40;  ///< past this, unknown keys are compared by value each time
  struct Slot {
    PyObject *key = nullptr;
    int field = -1;  ///< index of the wanted key it equals, or -1
  };

  Values lookup(PyObject *d) {
    ++lookups_;
    Values values{};
    for (std::size_t i = 0; i < N; ++i) {
      values[i] = PyDict_GetItemWithError(d, names_[i].ptr());
      if (!values[i] && PyErr_Occurred()) rethrow();
    }
    return values;
  }

  /// Which wanted key the exact str `k` is, or -1.
  int field(PyObject *k) {
    std::size_t at = (reinterpret_cast<std::uintptr_t>(k) >> 4) % kSlots;
    for (; slots_[at].key; at = (at + 1) % kSlots)
      if (slots_[at].key == k) return slots_[at].field;
    int found = -1;
    for (std::size_t i = 0; i < N && found < 0; ++i)
      if (k == names_[i].ptr() || PyUnicode_Compare(k, names_[i].ptr()) == 0) found = static_cast<int>(i);
    if (known_count_ < kKnownAtMost) {
      known_[known_count_++] = nb::borrow(k);
      slots_[at] = {k, found};
    }
    return found;
  }

  std::array<nb::object, N> names_;
  std::array<Slot, kSlots> slots_{};
  std::array<nb::object, kKnownAtMost> known_;  ///< keeps the known keys alive
  std::size_t known_count_ = 0;
  std::size_t lookups_ = 0;
};

}  // namespace halvane::py
