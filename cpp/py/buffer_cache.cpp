// The buffer cache behind numpy's memory-handler interface.
#include "py/buffer_cache.hpp"
#include "py/shared.hpp"
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <malloc.h>
#include <unordered_map>
#include <mutex>
#include <utility>
#include <sys/mman.h>

#include "py/numpy_api.hpp"

namespace halvane::py {

namespace {

/// Requests are rounded up to whole pages, so that lines of nearly the same
/// length share blocks and a block's size follows from the request alone;
/// the blocks of a few megabytes (see fresh()) to whole huge pages.
constexpr std::size_t page = 4096, huge_page = std::size_t{2} << 20;
constexpr std::size_t few_mb = std::size_t{1} << 20, many_mb = std::size_t{4} << 20;

std::size_t rounded(std::size_t size) {
  const std::size_t unit = size >= few_mb && size < many_mb ? huge_page : page;
  return (size + unit - 1) / unit * unit;
}

/// A block of min_cached bytes or more is a mapping of its own, so that
/// one given back (evicted, or released beyond the bound) returns its pages
/// to the system at once: from the C allocator's heap it would not, and the
/// process would grow far past the bound.
void unmap(void *p, std::size_t r) { munmap(p, r); }

struct Cache {
  std::mutex m;
  std::list<std::pair<std::size_t, void *>> blocks;  ///< oldest release first
  std::size_t held = 0;
  std::atomic<std::size_t> limit{0};
  std::unordered_map<void *, std::size_t> lent;  ///< mapped blocks in arrays, and their sizes

  /// The held block of exactly `size` bytes released last (its pages are
  /// the likeliest to be still in the processor's caches), or null.
  void *take(std::size_t size) {
    std::lock_guard lock(m);
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
      if (it->first != size) continue;
      void *p = it->second;
      held -= size;
      blocks.erase(std::next(it).base());
      lent.emplace(p, size);
      return p;
    }
    return nullptr;
  }

  /// The size of mapped block `p` in an array, or 0 when `p` is not one.
  std::size_t size_of(void *p) {
    std::lock_guard lock(m);
    auto it = lent.find(p);
    return it == lent.end() ? 0 : it->second;
  }

  void lend(void *p, std::size_t size) {
    std::lock_guard lock(m);
    lent.emplace(p, size);
  }

  /// The size of mapped block `p` that an array gives back (0 when `p` is
  /// not one), which it no longer lends.
  std::size_t returned(void *p) {
    std::lock_guard lock(m);
    auto it = lent.find(p);
    if (it == lent.end()) return 0;
    const std::size_t size = it->second;
    lent.erase(it);
    return size;
  }

  /// Keep `p` of `size` bytes, making room by giving the oldest blocks back;
  /// false when it cannot be kept.
  bool keep(void *p, std::size_t size) {
    std::lock_guard lock(m);
    if (size > limit.load()) return false;
    while (held + size > limit.load()) evict_oldest();
    blocks.emplace_back(size, p);
    held += size;
    return true;
  }

  void evict_oldest() {
    unmap(blocks.front().second, blocks.front().first);
    held -= blocks.front().first;
    blocks.pop_front();
  }
};

/// Held blocks handed out on this thread so far.
thread_local std::size_t taken = 0;

// One cache for the process, whichever module allocates or frees (the first
// call holds the GIL: it comes before any allocation through the handler).
// Never destroyed: arrays may be freed during interpreter shutdown.
Cache &cache() {
  static Cache *c = &shared<Cache>("halvane.buffer_cache");
  return *c;
}

/// A fresh mapped block of `r` bytes (rounded(), at least min_cached),
/// zero as the system gives it, on huge pages from a megabyte on, as
/// numpy's own allocator has them from 4 MiB on: a pass over the block then
/// takes one TLB entry per 2 MiB, not 512, which makes a shape's result of
/// 1.6 MB, written once after numpy has run, a quarter cheaper. A block of
/// a few megabytes is whole huge pages, aligned (up to 2 MiB more than its
/// array); in a larger one, the huge pages inside it are most of it.
void *fresh(std::size_t r) {
  const bool aligned = r >= few_mb && r <= many_mb;  // whole huge pages (rounded())
  const std::size_t span = aligned ? r + huge_page : r;
  void *m = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  char *p = static_cast<char *>(m);
  if (aligned) {  // trim to a huge-page boundary
    char *a = reinterpret_cast<char *>((reinterpret_cast<std::uintptr_t>(p) + huge_page - 1) / huge_page * huge_page);
    if (a > p) munmap(p, static_cast<std::size_t>(a - p));
    if (a + r < p + span) munmap(a + r, static_cast<std::size_t>(p + span - (a + r)));
    p = a;
  }
#ifdef MADV_HUGEPAGE
  if (r >= few_mb) madvise(p, r, MADV_HUGEPAGE);  // advice only
#endif
  cache().lend(p, r);
  return p;
}

/// A block of at least `size` bytes: a held one, a fresh mapping, or for
/// small sizes the C allocator's; zero throughout when `zeroed`.
void *allocate(std::size_t size, bool zeroed) {
  const std::size_t r = rounded(size);
  if (r < min_cached) return zeroed ? std::calloc(r ? r : 1, 1) : std::malloc(r ? r : 1);
  if (void *p = cache().take(r)) {
    if (zeroed) return std::memset(p, 0, r);  // written now: in the caches
    ++taken;
    return p;
  }
  return fresh(r);
}

/// Give `ptr` back: to the cache when it is a mapped block that fits.
void release(void *ptr) {
  const std::size_t r = cache().returned(ptr);
  if (!r) return std::free(ptr);
  if (!cache().keep(ptr, r)) unmap(ptr, r);
}

void *cached_malloc(void *, std::size_t size) { return allocate(size, false); }

void *cached_calloc(void *, std::size_t nelem, std::size_t elsize) {
  if (elsize && nelem > SIZE_MAX / elsize) return nullptr;
  return allocate(nelem * elsize, true);
}

void *cached_realloc(void *, void *ptr, std::size_t size) {
  if (!ptr) return allocate(size, false);
  const std::size_t old = cache().size_of(ptr);
  if (!old && rounded(size) < min_cached) return std::realloc(ptr, size ? size : 1);
  void *q = allocate(size, false);
  if (!q) return nullptr;
  std::memcpy(q, ptr, std::min(old ? old : malloc_usable_size(ptr), size));
  release(ptr);
  return q;
}

void cached_free(void *, void *ptr, std::size_t) {
  if (ptr) release(ptr);
}

PyDataMem_Handler handler = {
    "halvane_buffer_cache", 1, {nullptr, cached_malloc, cached_calloc, cached_realloc, cached_free}};

/// The handler capsule, made (and numpy's C API imported) on first use.
PyObject *handler_capsule() {
  static PyObject *capsule = [] {
    import_numpy_api();
    PyObject *c = PyCapsule_New(&handler, "mem_handler", nullptr);
    if (!c) rethrow();
    return c;
  }();
  return capsule;
}

}  // namespace

CachedAllocations::CachedAllocations(std::size_t bytes) : taken_(taken) {
  if (bytes < min_cached || cache().limit.load() == 0) return;
  // The capsule first: making it imports numpy's C API, which the call needs.
  PyObject *ours = handler_capsule();
  previous_ = PyDataMem_SetHandler(ours);
  if (!previous_) rethrow();
}

CachedAllocations::~CachedAllocations() {
  if (!previous_) return;
  PyObject *type, *value, *trace;
  PyErr_Fetch(&type, &value, &trace);  // an error on its way out stays as it is
  PyObject *ours = PyDataMem_SetHandler(previous_);
  Py_XDECREF(ours);
  Py_DECREF(previous_);
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

bool CachedAllocations::recycled() const { return taken != taken_; }

std::size_t buffer_cache_limit() { return cache().limit.load(); }

std::size_t set_buffer_cache_limit(std::size_t limit) {
  Cache &c = cache();
  std::lock_guard lock(c.m);
  const std::size_t previous = c.limit.exchange(limit);
  while (c.held > limit) c.evict_oldest();
  return previous;
}

std::size_t buffer_cache_held() {
  Cache &c = cache();
  std::lock_guard lock(c.m);
  return c.held;
}

}  // namespace halvane::py
