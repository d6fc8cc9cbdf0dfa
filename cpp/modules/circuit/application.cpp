// Rule application: every instruction gets its duration and line tracks from
// the rule of its gate for its qubits. semi_apply also knows three names of
// its own: "B" (a barrier: no qubit information; without qubits it is widened
// to every qubit of the circuit), "PIN" (the same, and it requests the start
// time `tm`) and "M" (a measurement, listed in MGates).
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/iterate.hpp"
#include "py/collaborators.hpp"
#include "py/objects.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;

nb::object printed_for_note(nb::handle ins) {
  nb::object qubits = hp::getattr_or_null(ins, HV_KEY("qubits"));
  if (!qubits.is_valid() || !(PyList_CheckExact(qubits.ptr()) || PyTuple_CheckExact(qubits.ptr()))) return {};
  nb::object printed = nb::steal(PyObject_Str(ins.ptr()));
  if (!printed.is_valid()) PyErr_Clear();
  return printed;
}

using hp::equals, hp::get_attr, hp::set_attr;

namespace {

/// rule.get_rule(r_, xqb), which must find a rule.
nb::object select(nb::handle r_, nb::handle xqb) {
  nb::object r = get_rule(r_, xqb);
  if (r.is_none()) hp::raise(PyExc_AssertionError, "The rule is None");
  return r;
}

/// r.semi_apply(its_qubits_info, **kwds)
nb::object rule_semi_apply(nb::handle r, nb::handle its_qubits_info, nb::handle kwds) {
  if (!hp::plain_keywords(kwds)) return hp::call_method_kw(r, HV_KEY("semi_apply"), {its_qubits_info}, kwds);
  // As for any call with **kwds, the callee gets a copy of the keywords.
  nb::object kw = hp::steal_or_throw(PyDict_Copy(kwds.ptr()));
  hp::Method m = hp::find_method(r, HV_KEY("semi_apply"));
  static hp::Native native;
  if (!native.f) native = hp::find_native("RULE.semi_apply");
  if (m.unbound && m.f.ptr() == native.f && !hp::names_any(kw, {HV_KEY("self"), HV_KEY("its_qubit_info")}))
    return native.impl(r, its_qubits_info, {}, kw);
  return hp::call_found(m, r, {its_qubits_info}, PyDict_GET_SIZE(kw.ptr()) ? kw : nb::handle());
}

/// ins.dur, ins.lts = r.semi_apply(its_qubits_info, **ins.kwds)
void apply(nb::handle ins, nb::handle r, nb::handle its_qubits_info) {
  nb::object result = rule_semi_apply(r, its_qubits_info, get_attr(ins, HV_KEY("kwds")));
  // A rule's own result is a pair; anything else is unpacked as the interpreter would.
  if (PyTuple_CheckExact(result.ptr()) && PyTuple_GET_SIZE(result.ptr()) == 2) {
    set_attr(ins, HV_KEY("dur"), PyTuple_GET_ITEM(result.ptr(), 0));
    set_attr(ins, HV_KEY("lts"), PyTuple_GET_ITEM(result.ptr(), 1));
    return;
  }
  auto [max_dur, line_tracks] = hp::unpack<2>(result);
  set_attr(ins, HV_KEY("dur"), max_dur);
  set_attr(ins, HV_KEY("lts"), line_tracks);
}

/// The KeyError of a missing `key` in `table` (a dict): "<what> has no key
/// <key>; its keys are [...]".
nb::object missing_key(const nb::python_error &e, const char *what, nb::handle table, nb::handle key) {
  if (!key.is_valid() || !e.matches(PyExc_KeyError) || !PyDict_Check(table.ptr()) ||
      PyDict_Contains(table.ptr(), key.ptr()) != 0)
    return {};
  nb::object args = hp::steal_or_throw(PyObject_GetAttrString(e.value().ptr(), "args"));
  if (PyTuple_GET_SIZE(args.ptr()) != 1 || !equals(PyTuple_GET_ITEM(args.ptr(), 0), key)) return {};
  nb::object keys = hp::steal_or_throw(PyDict_Keys(table.ptr()));
  return hp::steal_or_throw(PyUnicode_FromFormat("%s has no key %R; its keys are %R", what, key.ptr(), keys.ptr()));
}

/// "while applying the rules to instruction #3 CZ(0,1), qubit key '0x1'", and
/// the keys of `rules` or `qubits_info` when the error is a key they lack.
void note_instruction(const nb::python_error &e, Py_ssize_t k, nb::handle ins, nb::handle rules,
                      nb::handle qubits_info) noexcept {
  nb::object xqb, nm;
  hp::add_note(e, [&] {
    nb::object text = hp::steal_or_throw(PyUnicode_FromFormat("while applying the rules to instruction #%zd", k));
    // Each further part only when it can be made: an odd instruction still gets its index.
    nb::object printed = printed_for_note(ins);
    if (!printed.is_valid()) return text;
    text = hp::steal_or_throw(PyUnicode_FromFormat("%U %U", text.ptr(), printed.ptr()));
    try {
      nm = get_attr(ins, HV_KEY("nm"));
      xqb = to_xqubits(get_attr(ins, HV_KEY("qubits")));
      text = hp::steal_or_throw(PyUnicode_FromFormat("%U, qubit key %R", text.ptr(), xqb.ptr()));
    } catch (nb::python_error &) {
    }
    return text;
  });
  hp::add_note(e, [&] { return missing_key(e, "rules", rules, nm); });
  hp::add_note(e, [&] { return missing_key(e, "the qubit information", qubits_info, xqb); });
}

/// for_each over instructions, noting on an error which instruction it came from.
template <typename Body>
void for_each_instruction(nb::handle inss, nb::handle rules, nb::handle qubits_info, Body &&body) {
  Py_ssize_t k = 0;
  hp::for_each(inss, [&](nb::handle ins) {
    try {
      body(ins);
    } catch (nb::python_error &e) {
      note_instruction(e, k, ins, rules, qubits_info);
      throw;
    }
    ++k;
  });
}

nb::object semi_apply_simple(nb::handle inss, nb::handle rules, nb::handle qubits_info) {
  for_each_instruction(inss, rules, qubits_info, [&](nb::handle ins) {
    nb::object nm = get_attr(ins, HV_KEY("nm"));
    nb::object r_ = hp::getitem(rules, nm);
    nb::object xqb = to_xqubits(get_attr(ins, HV_KEY("qubits")));
    nb::object r = select(r_, xqb);
    nb::object info = equals(nm, HV_KEY("B")) ? nb::dict() : hp::getitem(qubits_info, xqb);
    apply(ins, r, info);
  });
  return nb::borrow(inss);
}

nb::object semi_apply(nb::handle circ, nb::handle rules, nb::handle qubits_info) {
  nb::list block_all_gates, measurement_gates;
  nb::object all_qubits = hp::steal_or_throw(PySet_New(nullptr));
  for_each_instruction(get_attr(circ, HV_KEY("ins")), rules, qubits_info, [&](nb::handle ins) {
    nb::object nm = get_attr(ins, HV_KEY("nm"));
    nb::object r_ = hp::getitem(rules, nm);  // an unknown gate fails first
    nb::object qubits = get_attr(ins, HV_KEY("qubits"));
    hp::for_each(qubits, [&](nb::handle q) {
      if (PySet_Add(all_qubits.ptr(), q.ptr()) < 0) hp::rethrow();
    });
    nb::object xqb = to_xqubits(qubits);
    nb::object r = select(r_, xqb);
    nb::object info;
    if (equals(nm, HV_KEY("B"))) {
      if (equals(xqb, HV_KEY(""))) block_all_gates.append(ins);
      info = nb::dict();
    } else if (equals(nm, HV_KEY("PIN"))) {
      set_attr(circ, HV_KEY("pin_pos"), hp::getitem(get_attr(ins, HV_KEY("kwds")), HV_KEY("tm")));
      set_attr(circ, HV_KEY("pin_gate"), ins);
      if (equals(xqb, HV_KEY(""))) block_all_gates.append(ins);
      info = nb::dict();
    } else {
      info = hp::getitem(qubits_info, xqb);
    }
    if (equals(nm, HV_KEY("M"))) measurement_gates.append(ins);
    apply(ins, r, info);
  });
  set_attr(circ, HV_KEY("MGates"), measurement_gates);
  set_attr(circ, HV_KEY("all_qubits"), all_qubits);
  // Barriers and pins without qubits occupy every qubit of the circuit.
  hp::for_each(block_all_gates, [&](nb::handle ins) {
    nb::object every = hp::steal_or_throw(PySequence_Tuple(get_attr(circ, HV_KEY("all_qubits")).ptr()));
    set_attr(ins, HV_KEY("qubits"), every);
  });
  return nb::borrow(circ);
}

}  // namespace

void export_application(nb::module_ &m) {
  m.def("semi_apply", &semi_apply, hp::arg("circ"), hp::arg("rules"), hp::arg("qubits_info"),
        nb::sig("def semi_apply(circ: Circuit, rules: typing.Mapping[typing.Any, typing.Any], "
                "qubits_info: typing.Mapping[str, halvane.records.QubitInfoLike]) -> Circuit"),
        "Apply the rules to every instruction of a circuit, in program order.\n\n"
        "Each instruction gets ``dur`` and ``lts`` from\n"
        "``rule.get_rule(rules[ins.nm], key).semi_apply(qubits_info[key], **ins.kwds)``\n"
        "with ``key = brick.to_xqubits(ins.qubits)``. A \"B\" (barrier) or\n"
        "\"PIN\" gets empty qubit information, and when it names no qubits it is\n"
        "widened to all qubits of the circuit afterwards; a \"PIN\" sets\n"
        "``circ.pin_pos`` to its keyword ``tm`` and ``circ.pin_gate`` to itself;\n"
        "\"M\" instructions are listed in ``circ.MGates``. ``circ.all_qubits`` is\n"
        "the set of all qubits named.\n\n"
        "Parameters\n----------\n"
        "circ : Circuit\n"
        "rules : mapping\n    Gate name -> RULE or RULE_COMP (anything ``get_rule`` accepts).\n"
        "qubits_info : mapping\n    Qubit key -> the qubit information a rule takes.\n\n"
        "Returns\n-------\nCircuit\n    ``circ`` itself.\n\n"
        "Examples\n--------\n"
        ">>> from halvane import circuit, rule, waveintent_enumeration as r\n"
        ">>> template = {'shape': 'cos', 'pos': 0, 'width': 0, 'plateau': 0, 'amp': 0,\n"
        "...             'freq': 5e9, 'phase': 0, 'phase1': 0, 'vz': 0}\n"
        ">>> cal = {'pi': {'amp': 0.5, 'width': 40e-9, 'plateau': 0, 'phase_offs': 0.0}}\n"
        ">>> info = {'0': {'d': {'nm': 'q0_xy', 'pdt': template, 'cp': cal}}}\n"
        ">>> rules = {'X': rule.RULE(d=[[r.X_p()]])}\n"
        ">>> circ = circuit.Circuit([circuit.INSTRUCTION('X', 0), circuit.INSTRUCTION('X', 0, amp=0.3)])\n"
        ">>> circ = circuit.semi_apply(circ, rules, info)\n"
        ">>> [ins.dur for ins in circ.ins], circ.ins[1].lts['q0_xy'][0][0]['amp']\n"
        "([4e-08, 4e-08], 0.3)");
  m.def("semi_apply_simple", &semi_apply_simple, hp::arg("inss"), hp::arg("rules"), hp::arg("qubits_info"),
        nb::sig("def semi_apply_simple(inss: typing.Iterable[INSTRUCTION], "
                "rules: typing.Mapping[typing.Any, typing.Any], "
                "qubits_info: typing.Mapping[str, halvane.records.QubitInfoLike]) -> typing.Iterable[INSTRUCTION]"),
        "Apply the rules to a sequence of instructions, without barrier widening, pins or measurements.\n\n"
        "A \"B\" gets empty qubit information; every other name is an ordinary gate.\n\n"
        "Returns\n-------\niterable\n    ``inss`` itself.");
}

}  // namespace halvane::circuit
