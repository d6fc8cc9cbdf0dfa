// How rules show themselves: a RULE as the call that would build it, a
// RULE_COMP as its qubit keys and its default.
#include <string>
#include "modules/rule/exports.hpp"
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::rule {
namespace hp = halvane::py;

namespace {

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
    hp::for_dict_items(self, "line_tracks", add);
    hp::for_dict_items(self, "kwds", [&](nb::handle k, nb::handle v) {
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
    hp::for_dict_items(self, "complex_dict", [&](nb::handle k, nb::handle) {
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
