// Instruction links: the instructions directly before and after each one on
// any of its qubits, kept as sets on the instructions (pre_ins, nxt_ins).
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
using hp::equals, hp::get_attr, hp::set_attr;

namespace {

nb::object get_links(nb::handle ins, nb::handle name) {
  nb::object s = hp::getattr_or_null(ins, name);
  return s.is_valid() ? s : hp::steal_or_throw(PySet_New(nullptr));
}

void add_link(nb::handle ins, nb::handle name, nb::handle other) {
  if (!hp::getattr_or_null(ins, name).is_valid()) set_attr(ins, name, hp::steal_or_throw(PySet_New(nullptr)));
  nb::object s = get_attr(ins, name);
  if (PySet_CheckExact(s.ptr())) {
    if (PySet_Add(s.ptr(), other.ptr()) < 0) hp::rethrow();
  } else {
    hp::call_method(s, HV_KEY("add"), {other});
  }
}

/// Walk the circuit in program order with the last instruction seen per
/// qubit; `link(previous, ins)` for each qubit that has one, unless that is
/// `ins` itself (a qubit named twice, or one object listed twice in a row):
/// an instruction is never its own neighbour.
template <typename Link>
void build(nb::handle circ, Link link) {
  nb::dict last_ins_reg;
  hp::for_each(get_attr(circ, HV_KEY("ins")), [&](nb::handle ins) {
    hp::for_each(get_attr(ins, HV_KEY("qubits")), [&](nb::handle q) {
      nb::object last_ins = hp::get(last_ins_reg, q, Py_None);
      int r = PyObject_RichCompareBool(last_ins.ptr(), Py_None, Py_NE);
      if (r < 0) hp::rethrow();
      if (r && !last_ins.is(ins)) link(last_ins, ins);
      hp::setitem(last_ins_reg, q, ins);
    });
  });
}

void forward(nb::handle circ) {
  build(circ, [](nb::handle previous, nb::handle ins) { set_nxt_ins(previous, ins); });
}

void backward(nb::handle circ) {
  build(circ, [](nb::handle previous, nb::handle ins) { set_pre_ins(ins, previous); });
}

}  // namespace

namespace native {
nb::object get_nxt_ins(nb::handle ins) { return get_links(ins, HV_KEY("nxt_ins")); }
nb::object get_pre_ins(nb::handle ins) { return get_links(ins, HV_KEY("pre_ins")); }
void set_nxt_ins(nb::handle ins, nb::handle next) { add_link(ins, HV_KEY("nxt_ins"), next); }
void set_pre_ins(nb::handle ins, nb::handle previous) { add_link(ins, HV_KEY("pre_ins"), previous); }
}  // namespace native

void export_links(nb::module_ &m) {
  m.def("get_nxt_ins", &native::get_nxt_ins, hp::arg("ins"),
        nb::sig("def get_nxt_ins(ins: INSTRUCTION) -> set[INSTRUCTION]"),
        "The set ``ins.nxt_ins`` itself, or a new empty set when it was never linked.");
  m.def("set_nxt_ins", &native::set_nxt_ins, hp::arg("ins"), hp::arg("ins_comes_next"),
        nb::sig("def set_nxt_ins(ins: INSTRUCTION, ins_comes_next: INSTRUCTION) -> None"),
        "Add ``ins_comes_next`` to ``ins.nxt_ins``, creating the set on first use.");
  m.def("get_pre_ins", &native::get_pre_ins, hp::arg("ins"),
        nb::sig("def get_pre_ins(ins: INSTRUCTION) -> set[INSTRUCTION]"),
        "The set ``ins.pre_ins`` itself, or a new empty set when it was never linked.");
  m.def("set_pre_ins", &native::set_pre_ins, hp::arg("ins"), hp::arg("ins_pre_comes"),
        nb::sig("def set_pre_ins(ins: INSTRUCTION, ins_pre_comes: INSTRUCTION) -> None"),
        "Add ``ins_pre_comes`` to ``ins.pre_ins``, creating the set on first use.");
  m.def("forwared_dag_circuit", &forward, hp::arg("circ"),
        nb::sig("def forwared_dag_circuit(circ: Circuit) -> None"),
        "Link every instruction to those that directly follow it on a shared qubit (``nxt_ins``).");
  m.def("backward_dag_circuit", &backward, hp::arg("circ"),
        nb::sig("def backward_dag_circuit(circ: Circuit) -> None"),
        "Link every instruction to those that directly precede it on a shared qubit (``pre_ins``).");
}

}  // namespace halvane::circuit
