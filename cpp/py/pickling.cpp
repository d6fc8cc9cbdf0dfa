// copyreg reducers for halvane's nanobind function types.
#include "py/pickling.hpp"
#include "py/errors.hpp"

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

/// The type of `o`, as a handle.
nb::handle type_of(nb::handle o) { return reinterpret_cast<PyObject *>(Py_TYPE(o.ptr())); }

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
  // A method made on a throwaway scope, and bound to it, gives the other two types.
  nb::object scope = nb::module_::import_("types").attr("SimpleNamespace")();
  nb::object method = nb::cpp_function([](nb::handle) {}, nb::name("probe"), nb::scope(scope), nb::is_method());
  nb::object bound = method.attr("__get__")(scope);
  register_reducer(copyreg, type_of(by_name), by_name);
  register_reducer(copyreg, type_of(method), by_name);
  register_reducer(copyreg, type_of(bound), by_instance);
}

}  // namespace halvane::py
