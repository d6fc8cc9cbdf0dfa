// copyreg reducers for halvane's nanobind function types.
#include "py/pickling.hpp"
#include "py/errors.hpp"
#include "py/function_types.hpp"

namespace halvane::py {

namespace {

/// A function reduces to its qualified name; pickle then saves it as a
/// global of its module and checks that the name still finds this object.
nb::object reduce_function(nb::handle f) { return f.attr("__qualname__"); }

/// A bound method reduces to getattr(instance, name), like a Python method.
nb::object reduce_bound_method(nb::handle m) {
  nb::object getattr_ = nb::module_::import_("builtins").attr("getattr");
  return nb::make_tuple(getattr_, nb::make_tuple(m.attr("__self__"), m.attr("__func__").attr("__name__")));
}

nb::handle type_handle(PyTypeObject *type) { return reinterpret_cast<PyObject *>(type); }

void register_reducer(nb::handle copyreg, nb::handle type, nb::handle reducer) {
  nb::object table = copyreg.attr("dispatch_table");
  if (PySequence_Contains(table.ptr(), type.ptr()) == 1) return;
  copyreg.attr("pickle")(type, reducer);
}

}  // namespace

void enable_pickling() {
  nb::object copyreg = nb::module_::import_("copyreg");
  nb::object by_name = nb::cpp_function(&reduce_function, nb::arg("f"));
  nb::object by_instance = nb::cpp_function(&reduce_bound_method, nb::arg("m"));
  FunctionTypes types = function_types();
  register_reducer(copyreg, type_handle(types.function), by_name);
  register_reducer(copyreg, type_handle(types.method), by_name);
  register_reducer(copyreg, type_handle(types.bound), by_instance);
}

}  // namespace halvane::py
