#include "py/module.hpp"
#include "py/errors.hpp"
#include "py/publish.hpp"
#include "py/pickling.hpp"

namespace halvane::py {

void finish_module(nb::module_ &m, std::initializer_list<const char *> also) {
  translate_allocation_failures();
  enable_pickling();
  publish(m, also);
}

}  // namespace halvane::py
