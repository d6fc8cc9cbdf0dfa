// What every halvane extension module does when it is loaded.
#pragma once
#include <initializer_list>
#include <nanobind/nanobind.h>

namespace halvane::py {
namespace nb = nanobind;

/// First in NB_MODULE: ImportError when module `m` was initialised before
/// in this process (it was removed from sys.modules and imported again).
/// Its native state (collaborator tables, the natives it offers, the buffer
/// cache's bound) belongs to the first module object, which stays in use.
void initialise_once(nb::module_ &m);

/// Finish module `m`, last in NB_MODULE: C++ allocation failures raise
/// MemoryError (errors.hpp), functions pickle by reference (pickling.hpp),
/// and `__all__` and signatures are published (publish.hpp), with the
/// names in `also` public although they begin with an underscore.
void finish_module(nb::module_ &m, std::initializer_list<const char *> also = {});

}  // namespace halvane::py
