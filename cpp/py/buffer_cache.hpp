// A bounded cache of released array buffers, for the arrays halvane makes.
//
// A large numpy array fresh from the system costs a page fault per page when
// it is first written, about as much as computing the samples in it. While
// a CachedAllocations guard lives, numpy arrays of at least `min_cached`
// bytes made on this thread take their memory through numpy's memory-handler
// interface from this cache, and give it back to the cache when numpy frees
// them (from any thread); so a loop that samples and drops its arrays finds
// pages already faulted in. The arrays stay ordinary numpy arrays. At most
// `limit` bytes are held; what would exceed it goes back to the system, and
// a limit of 0 turns the cache off (the guard then changes nothing).
//
// The cache is one for the process (py/shared.hpp), off until a limit is
// set; wavespec_handling, which makes the large arrays, sets it at import
// and offers buffer_cache() to change it.
#pragma once
#include <cstddef>
#include "py/errors.hpp"

namespace halvane::py {

constexpr std::size_t min_cached = std::size_t{1} << 16;

/// Arrays made on this thread while the guard lives use the cache, when it
/// is on and `bytes` reaches min_cached.
class CachedAllocations {
 public:
  explicit CachedAllocations(std::size_t bytes);
  ~CachedAllocations();
  CachedAllocations(const CachedAllocations &) = delete;
  CachedAllocations &operator=(const CachedAllocations &) = delete;

  /// Whether an allocation made so far under this guard took a held block:
  /// memory written long ago, out of the processor's caches by now.
  bool recycled() const;

 private:
  PyObject *previous_ = nullptr;
  std::size_t taken_;
};

/// The bound in bytes (0: off).
std::size_t buffer_cache_limit();

/// Set the bound, giving back to the system what the cache holds beyond it;
/// returns the previous bound.
std::size_t set_buffer_cache_limit(std::size_t limit);

/// The bytes the cache holds now.
std::size_t buffer_cache_held();

}  // namespace halvane::py
