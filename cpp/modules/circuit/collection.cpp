// Collection: the pulse descriptions of all instructions, per line name, in
// program order, then track order, then order within the track.
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
using hp::equals, hp::get_attr, hp::set_attr;

namespace {

nb::dict collect_pdc(nb::handle circ) try {
  nb::dict R;
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    hp::for_items(get_attr(ins, HV_KEY("lts")), [&](nb::handle line, nb::handle tracks) {
      if (!hp::contains(R, line)) hp::setitem(R, line, nb::list());
      hp::for_each(tracks, [&](nb::handle track) {
        // R[line] += track
        nb::object pdc = hp::getitem(R, line);
        hp::setitem(R, line, hp::steal_or_throw(PyNumber_InPlaceAdd(pdc.ptr(), track.ptr())));
      });
    });
  });
  return R;
} catch (nb::python_error &e) {
  note_unapplied(e, circ, "collecting");
  throw;
}

}  // namespace

void export_collection(nb::module_ &m) {
  m.def("collect_pdc", &collect_pdc, hp::arg("circ"),
        nb::sig("def collect_pdc(circ: Circuit) -> dict[typing.Any, list[dict]]"),
        "Gather the pulse descriptions of a scheduled circuit per line.\n\n"
        "Returns\n-------\ndict\n"
        "    Line name -> list of the instructions' pulse descriptions (the same\n"
        "    dict objects, not copies), lines in order of first appearance, the\n"
        "    descriptions in program order, then track order. Not sorted by time.\n\n"
        "Examples\n--------\n"
        "With ``circ`` scheduled as in the example of ``ASAP``:\n\n"
        ">>> pdc = circuit.collect_pdc(circ)\n"
        ">>> [(line, [float(pd['pos']) for pd in pds]) for line, pds in pdc.items()]\n"
        "[('q0_xy', [1e-06, 1.04e-06])]");
}

}  // namespace halvane::circuit
