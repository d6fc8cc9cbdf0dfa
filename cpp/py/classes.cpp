// Heap types made through the interpreter's own `type`.
#include "py/classes.hpp"
#include "py/compat.hpp"

namespace halvane::py {

nb::object make_class(nb::handle module, const char *name, nb::handle bases, const char *doc) {
  nb::dict ns;
  ns["__module__"] = module.attr("__name__");
  ns["__qualname__"] = nb::str(name);
  ns["__doc__"] = nb::str(doc);
  nb::handle type_ = reinterpret_cast<PyObject *>(&PyType_Type);
  nb::object cls = type_(nb::str(name), bases, ns);
  if (PyObject_SetAttrString(module.ptr(), name, cls.ptr()) < 0) rethrow();
  return cls;
}

nb::object getattr_or_null(nb::handle obj, nb::handle name) {
  PyObject *v = nullptr;
  if (compat::lookup_attr(obj.ptr(), name.ptr(), &v) < 0) rethrow();
  return nb::steal(v);
}

}  // namespace halvane::py
