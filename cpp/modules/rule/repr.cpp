// How rules show themselves: a RULE as the call that would build it, a
// RULE_COMP as its qubit keys and its default.
#include <string>
#include "modules/rule/exports.hpp"
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::rule {
namespace hp = halvane::py;

namespace {

/// Calls body(key, value) for each item of a dict attribute; a missing or
/// non-dict attribute has no items.
template <typename Body>
void dict_items(nb::handle obj, const char *name, Body &&body) {
  nb::object d = hp::attr_or_none(obj, name);
  if (!d.is_valid() || !PyDict_Check(d.ptr())) return;
  // A snapshot of the items: a repr of a value may run code that changes the dict.
  nb::object items = hp::steal_or_throw(PyDict_Items(d.ptr()));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.ptr()); ++i) {
    PyObject *kv = PyList_GET_ITEM(items.ptr(), i);
    body(nb::handle(PyTuple_GET_ITEM(kv, 0)), nb::handle(PyTuple_GET_ITEM(kv, 1)));
  }
}

/// RULE(d=[[X_p()]], z=[[F_p()]], _align='center'): the markers and their
/// tracks, the options, and the alignment in force.
nb::str rule_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    hp::ReprGuard guard(self);
    std::string name = hp::class_name(self);
    if (!guard.entered()) return hp::cat(name, "(...)");
    std::string args;
    auto add = [&](nb::handle k, nb::handle v) {
      args += hp::cat(args.empty() ? "" : ", ", hp::safe_str(k), "=", hp::safe_repr(v));
    };
    dict_items(self, "line_tracks", add);
    dict_items(self, "kwds", [&](nb::handle k, nb::handle v) {
      if (hp::safe_str(k) != "_align") add(k, v);
    });
    if (nb::object align = hp::attr_or_none(self, "_align"); align.is_valid()) add(nb::str("_align"), align);
    return hp::cat(name, "(", args, ")");
  });
}

/// <RULE_COMP: keys '0', '1', '0x1', default None>, the first keys only when there are many.
nb::str rule_comp_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    hp::ReprGuard guard(self);
    std::string name = hp::class_name(self);
    if (!guard.entered()) return hp::cat("<", name, " ...>");
    constexpr size_t shown = 8;
    size_t count = 0;
    std::string keys;
    dict_items(self, "complex_dict", [&](nb::handle k, nb::handle) {
      if (count++ < shown) keys += hp::cat(keys.empty() ? "" : ", ", hp::safe_repr(k));
    });
    if (count > shown) keys += hp::cat(", ... (", std::to_string(count), " keys)");
    std::string text = hp::cat("<", name, ": ", count ? hp::cat(count == 1 ? "key " : "keys ", keys) : "no keys");
    nb::object fallback = hp::attr_or_none(self, "default_rule");
    return hp::cat(text, ", default ", fallback.is_valid() ? hp::safe_repr(fallback) : "None", ">");
  });
}

}  // namespace

void export_reprs(nb::module_ &m) {
  hp::def_method(m.attr("RULE"), "__repr__", &rule_repr, nb::sig("def __repr__(self) -> str"),
                 "``RULE(d=[[X_p()]], _align='left')``: markers, tracks and options.");
  hp::def_method(m.attr("RULE_COMP"), "__repr__", &rule_comp_repr, nb::sig("def __repr__(self) -> str"),
                 "``<RULE_COMP: keys '0', '0x1', default None>``.");
}

}  // namespace halvane::rule
