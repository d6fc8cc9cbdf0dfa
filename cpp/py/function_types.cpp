#include "py/function_types.hpp"

namespace halvane::py {

FunctionTypes function_types() {
  // A function, and a method made on a throwaway scope and bound to it.
  nb::object scope = nb::module_::import_("types").attr("SimpleNamespace")();
  nb::object function = nb::cpp_function([] {});
  nb::object method = nb::cpp_function([](nb::handle) {}, nb::name("probe"), nb::scope(scope), nb::is_method());
  nb::object bound = method.attr("__get__")(scope);
  return {Py_TYPE(function.ptr()), Py_TYPE(method.ptr()), Py_TYPE(bound.ptr())};
}

}  // namespace halvane::py
