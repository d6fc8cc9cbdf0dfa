// Circuit printing: the instruction list on one line, and the links of every
// instruction one per line, with plain or identity-tagged texts.
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/calls.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"
#include "py/output.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
using hp::concat, hp::equals, hp::get_attr, hp::set_attr;

namespace {

nb::object join(nb::handle parts) {
  return hp::steal_or_throw(PyUnicode_Join(HV_KEY(",").ptr(), parts.ptr()));
}

void print_circuit(nb::handle circ) {
  nb::list texts;
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    texts.append(hp::call_method(ins, HV_KEY("__str__")));
  });
  hp::print({concat(concat(HV_KEY("["), join(texts)), HV_KEY("]"))});
}

/// One line per instruction: its text, "after: " and the text of its
/// successors, "before: " and the text of its predecessors.
template <typename Text, typename Links>
void print_dag(nb::handle circ, Text ins_text, Links links_text) {
  hp::print({HV_KEY("[")});
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    nb::object ins_str = ins_text(ins);
    nb::object ins_nxt = links_text(get_nxt_ins(ins));
    nb::object ins_pre = links_text(get_pre_ins(ins));
    hp::print({ins_str, HV_KEY("after: "), ins_nxt, HV_KEY("before: "), ins_pre});
  });
  hp::print({HV_KEY("]")});
}

void print_circuit_dag(nb::handle circ) {
  print_dag(circ, [](nb::handle ins) { return hp::call_method(ins, HV_KEY("__str__")); }, hp::text);
}

void print_circuit_dag_strid(nb::handle circ) {
  auto strid = [](nb::handle ins) { return hp::call_method(ins, HV_KEY("strid")); };
  print_dag(circ, strid, [&](nb::handle links) {
    nb::list texts;
    hp::for_each(links, [&](nb::handle other) { texts.append(strid(other)); });
    return join(texts);
  });
}

}  // namespace

void export_printing(nb::module_ &m) {
  m.def("print_circuit", &print_circuit, hp::arg("circ"), nb::sig("def print_circuit(circ: Circuit) -> None"),
        "Print the instructions on one line: ``[X_p(0),CZ(0,1)]``.");
  m.def("print_circuit_dag", &print_circuit_dag, hp::arg("circ"),
        nb::sig("def print_circuit_dag(circ: Circuit) -> None"),
        "Print each instruction with its successors and predecessors as sets:\n\n"
        "``X_p(0) after:  {CZ(0,1)} before:  set()``, between lines ``[`` and ``]``.");
  m.def("print_circuit_dag_strid", &print_circuit_dag_strid, hp::arg("circ"),
        nb::sig("def print_circuit_dag_strid(circ: Circuit) -> None"),
        "Print the links like ``print_circuit_dag``, with identity-tagged texts.\n\n"
        "``CZ(0,1)<2c1b5e90> after:  Y_p(1)<2c1b6f10> before:  X_p(0)<2c1b5d00>``.");
}

}  // namespace halvane::circuit
