// How a recipe shows itself: its class and class keywords, X_p(amp=0.3).
#include <string>
#include "py/classes.hpp"
#include "py/reprs.hpp"

namespace halvane::waveintent {
namespace nb = nanobind;
namespace hp = halvane::py;

namespace {

nb::str recipe_repr(nb::handle self) {
  return hp::never_raising(self, [&] {
    hp::ReprGuard guard(self);
    std::string name = hp::class_name(self);
    if (!guard.entered()) return hp::cat(name, "(...)");
    std::string args;
    hp::for_dict_items(self, "kw", [&](nb::handle k, nb::handle v) {
      args += hp::cat(args.empty() ? "" : ", ", hp::safe_str(k), "=", hp::safe_repr(v));
    });
    if (nb::object kw = hp::attr_or_none(self, "kw"); kw.is_valid() && !PyDict_Check(kw.ptr()))
      args = hp::cat("**", hp::safe_repr(kw));
    return hp::cat(name, "(", args, ")");
  });
}

}  // namespace

void def_repr(nb::handle cls) {
  hp::def_method(cls, "__repr__", &recipe_repr, nb::sig("def __repr__(self) -> str"),
                 "The class name and class keywords: ``X_p(amp=0.3)``.");
}

}  // namespace halvane::waveintent
