// halvane.wavespec_handling: buffer_cache, the bound of the cache of
// released array buffers (py/buffer_cache.hpp), set at import from the
// environment variable HALVANE_BUFFER_CACHE.
#include <cctype>
#include <cstdlib>
#include <string>
#include "modules/wavespec_handling/exports.hpp"
#include "py/args.hpp"
#include "py/buffer_cache.hpp"

namespace halvane::wavespec_handling {

namespace hp = halvane::py;

namespace {

constexpr std::size_t default_limit = std::size_t{256} << 20;

/// "268435456", "256M", "1g", "0": bytes with an optional binary K, M or G.
std::optional<std::size_t> parse_bytes(const std::string &text) {
  std::size_t end = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &end);
  } catch (const std::exception &) {
    return std::nullopt;
  }
  int shift = 0;
  if (end + 1 == text.size()) {
    switch (std::toupper(static_cast<unsigned char>(text[end]))) {
      case 'K': shift = 10; break;
      case 'M': shift = 20; break;
      case 'G': shift = 30; break;
      default: return std::nullopt;
    }
  } else if (end != text.size()) {
    return std::nullopt;
  }
  if (text[0] == '-' || value > (SIZE_MAX >> shift)) return std::nullopt;
  return static_cast<std::size_t>(value) << shift;
}

std::size_t limit_from_environment() {
  const char *text = std::getenv("HALVANE_BUFFER_CACHE");
  if (!text) return default_limit;
  if (auto v = parse_bytes(text)) return *v;
  if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                       "HALVANE_BUFFER_CACHE=%s is not a size in bytes (such as 268435456, 256M or 0); "
                       "the buffer cache keeps its default bound of 256 MiB",
                       text) < 0)
    hp::rethrow();
  return default_limit;
}

nb::object buffer_cache(nb::handle limit) {
  const std::size_t previous = hp::buffer_cache_limit();
  if (!limit.is_none()) {
    nb::object v = hp::steal_or_throw(PyNumber_Index(limit.ptr()));
    if (PyObject_RichCompareBool(v.ptr(), nb::int_(0).ptr(), Py_LT) == 1) {
      PyErr_Format(PyExc_ValueError, "the buffer cache bound must be 0 or more bytes, not %S", v.ptr());
      hp::rethrow();
    }
    std::size_t bytes = PyLong_AsSize_t(v.ptr());
    if (PyErr_Occurred()) {  // more than a size_t: no bound in practice
      PyErr_Clear();
      bytes = SIZE_MAX;
    }
    hp::set_buffer_cache_limit(bytes);
  }
  return nb::int_(previous);
}

}  // namespace

void export_memory(nb::module_ &m) {
  hp::set_buffer_cache_limit(limit_from_environment());
  m.def("buffer_cache", &buffer_cache, hp::arg("limit") = nb::none(),
        nb::sig("def buffer_cache(limit: int | None = None) -> int"),
        "The bound, in bytes, of the cache of released array buffers.\n\n"
        "Large arrays that this module makes (the sampling driver,\n"
        "``sample_lines``, the shapes, ``carrier``, the filters) take their memory\n"
        "from a cache of buffers that such arrays released, so a loop that\n"
        "samples and drops its arrays reuses pages already in memory instead\n"
        "of getting fresh ones from the system. The arrays are ordinary numpy\n"
        "arrays. At most ``limit`` bytes are held; more goes back to the\n"
        "system. The bound starts at the environment variable\n"
        "``HALVANE_BUFFER_CACHE`` (bytes, or with a K, M or G suffix) read at\n"
        "import, else 256 MiB.\n\n"
        "Parameters\n----------\n"
        "limit : int, optional\n"
        "    The new bound; 0 turns the cache off and gives back what it holds.\n"
        "    Omitted, nothing changes.\n\n"
        "Returns\n-------\nint\n    The bound before the call.");
  m.def("_buffer_cache_held", [] { return hp::buffer_cache_held(); },
        nb::sig("def _buffer_cache_held() -> int"), "The bytes the buffer cache holds now.");
}

}  // namespace halvane::wavespec_handling
