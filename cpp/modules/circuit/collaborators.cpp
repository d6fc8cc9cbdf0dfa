// Call-time bindings of the circuit module.
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/collaborators.hpp"
#include "domain/pulses.hpp"
#include "domain/qubits.hpp"
#include "domain/reals.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
namespace hd = halvane::domain;

namespace {

enum : std::size_t {
  RULE, BRICK, NP, INSTRUCTION, GET_NXT, GET_PRE, SET_NXT, SET_PRE, ASAP, ALAP, SHIFT, FLUSH,
  GET_RULE, MOVE_TRACK, TO_XQUBITS, MAX, MIN, NAME_COUNT
};
constexpr hp::Collaborator collaborator_table[] = {{RULE, "rule"},
                                      {BRICK, "brick"},
                                      {NP, "np"},
                                      {INSTRUCTION, "INSTRUCTION"},
                                      {GET_NXT, "get_nxt_ins"},
                                      {GET_PRE, "get_pre_ins"},
                                      {SET_NXT, "set_nxt_ins"},
                                      {SET_PRE, "set_pre_ins"},
                                      {ASAP, "_ASAP"},
                                      {ALAP, "_ALAP"},
                                      {SHIFT, "shift_circ"},
                                      {FLUSH, "flush_gate_pos_to_pds"},
                                      {GET_RULE, "rule", "get_rule"},
                                      {MOVE_TRACK, "rule", "move_track"},
                                      {TO_XQUBITS, "brick", "to_xqubits"},
                                      {MAX, "np", "max"},
                                      {MIN, "np", "min"}};
static_assert(hp::named_in_order(collaborator_table, NAME_COUNT));
hp::Collaborators names{collaborator_table};

nb::list as_list(std::span<const nb::handle> values) {
  nb::list l;
  for (nb::handle v : values) l.append(v);
  return l;
}

}  // namespace

void bind_collaborators(nb::handle module) { names.bind(module); }

nb::object get_rule(nb::handle A, nb::handle qubits) {
  // The rule module offers its get_rule to skip the binding.
  static hp::Native native = hp::find_native("get_rule");
  return names.call(GET_RULE, [&] {
    nb::handle f = names.original_object(GET_RULE);
    return f.ptr() == native.f ? native.impl(A, qubits, {}, {}) : f(A, qubits);
  }, A, qubits);
}

void move_track(nb::handle track, nb::handle w) {
  names.call(MOVE_TRACK, [&] { hd::move_track(track, w); }, track, w);
}

nb::object to_xqubits(nb::handle qubits) {
  return names.call(TO_XQUBITS, [&] { return hd::to_xqubits(qubits); }, qubits);
}

nb::object np_max(std::span<const nb::handle> values) {
  return names.call(MAX, [&] { return hd::reduce_extreme(values, true, names.original_object(MAX)); },
                    as_list(values));
}

nb::object np_min(std::span<const nb::handle> values) {
  return names.call(MIN, [&] { return hd::reduce_extreme(values, false, names.original_object(MIN)); },
                    as_list(values));
}

nb::object instruction_class() { return names.current(INSTRUCTION); }

nb::handle own_instruction_class() { return names.original_object(INSTRUCTION); }

nb::object get_nxt_ins(nb::handle ins) {
  return names.call(GET_NXT, [&] { return native::get_nxt_ins(ins); }, ins);
}
nb::object get_pre_ins(nb::handle ins) {
  return names.call(GET_PRE, [&] { return native::get_pre_ins(ins); }, ins);
}
void set_nxt_ins(nb::handle ins, nb::handle next) {
  names.call(SET_NXT, [&] { native::set_nxt_ins(ins, next); }, ins, next);
}
void set_pre_ins(nb::handle ins, nb::handle previous) {
  names.call(SET_PRE, [&] { native::set_pre_ins(ins, previous); }, ins, previous);
}
nb::object asap_core(nb::handle circ) {
  return names.call(ASAP, [&] { return native::asap_core(circ); }, circ);
}
nb::object alap_core(nb::handle circ) {
  return names.call(ALAP, [&] { return native::alap_core(circ); }, circ);
}
void shift_circ(nb::handle circ, nb::handle t) {
  names.call(SHIFT, [&] { native::shift_circ(circ, t); }, circ, t);
}
void flush_gate_pos_to_pds(nb::handle circ) {
  names.call(FLUSH, [&] { native::flush_gate_pos_to_pds(circ); }, circ);
}

}  // namespace halvane::circuit
