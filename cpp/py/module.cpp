#include "py/module.hpp"
#include "py/errors.hpp"
#include "py/publish.hpp"
#include "py/pickling.hpp"

namespace halvane::py {

void initialise_once(nb::module_ &m) {
  // Each module links its own copy of this library: the flag is the module's.
  static bool initialised = false;
  if (!initialised) {
    initialised = true;
    return;
  }
  nb::object name = m.attr("__name__");
  PyErr_Format(PyExc_ImportError,
               "%S was initialised before in this process and cannot be initialised again; put the "
               "module loaded first back into sys.modules (sys.modules[%R] = %S), or restart the interpreter",
               name.ptr(), name.ptr(), name.ptr());
  rethrow();
}

void finish_module(nb::module_ &m, std::initializer_list<const char *> also) {
  translate_allocation_failures();
  enable_pickling();
  publish(m, also);
}

}  // namespace halvane::py
