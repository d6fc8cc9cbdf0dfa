// Call-time bindings of the circuit module.
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/members.hpp"
#include "py/native.hpp"
#include "py/pulses.hpp"
#include "py/qubits.hpp"
#include "py/reals.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;

namespace {

hp::Rebindable rule, brick, np, instruction;
hp::Rebindable get_nxt, get_pre, set_nxt, set_pre, asap, alap, shift, flush;
hp::Member get_rule_fn, move_track_fn, to_xqubits_fn, max_fn, min_fn;
hp::Originals originals;

/// Call the function bound to `global` now: `native` when it is the original.
template <typename Native, typename... Args>
nb::object dispatch(const hp::Rebindable &global, Native native, Args... args) {
  nb::object f = originals.hold() ? nb::borrow(global.original()) : nb::borrow(global.current());
  if (global.is_original(f)) {
    if constexpr (std::is_void_v<decltype(native(args...))>) {
      native(args...);
      return nb::none();
    } else {
      return native(args...);
    }
  }
  return f(args...);
}

nb::list as_list(std::span<const nb::handle> values) {
  nb::list l;
  for (nb::handle v : values) l.append(v);
  return l;
}

}  // namespace

void bind_collaborators(nb::handle module) {
  rule.bind(module, "rule");
  brick.bind(module, "brick");
  np.bind(module, "np");
  instruction.bind(module, "INSTRUCTION");
  get_nxt.bind(module, "get_nxt_ins");
  get_pre.bind(module, "get_pre_ins");
  set_nxt.bind(module, "set_nxt_ins");
  set_pre.bind(module, "set_pre_ins");
  asap.bind(module, "_ASAP");
  alap.bind(module, "_ALAP");
  shift.bind(module, "shift_circ");
  flush.bind(module, "flush_gate_pos_to_pds");
  get_rule_fn.bind(rule, "get_rule");
  move_track_fn.bind(rule, "move_track");
  to_xqubits_fn.bind(brick, "to_xqubits");
  max_fn.bind(np, "max");
  min_fn.bind(np, "min");
  for (const hp::Rebindable *r : {&rule, &brick, &np}) originals.watch(r->original());
  originals.watch(module);
  for (const hp::Rebindable *r : {&rule, &brick, &np, &instruction, &get_nxt, &get_pre, &set_nxt, &set_pre, &asap,
                                  &alap, &shift, &flush})
    originals.require(*r);
  for (const hp::Member *f : {&get_rule_fn, &move_track_fn, &to_xqubits_fn, &max_fn, &min_fn}) originals.require(*f);
}

nb::object get_rule(nb::handle A, nb::handle qubits) {
  // The rule module offers its get_rule to skip the binding.
  static hp::Native native = hp::find_native("get_rule");
  nb::object f = originals.hold() ? nb::borrow(get_rule_fn.original()) : get_rule_fn.current();
  if (get_rule_fn.is_original(f) && f.ptr() == native.f) return native.impl(A, qubits, {});
  return f(A, qubits);
}

void move_track(nb::handle track, nb::handle w) {
  if (originals.hold()) return hp::move_track(track, w);
  nb::object f = move_track_fn.current();
  if (move_track_fn.is_original(f)) return hp::move_track(track, w);
  f(track, w);
}

nb::object to_xqubits(nb::handle qubits) {
  if (originals.hold()) return hp::to_xqubits(qubits);
  nb::object f = to_xqubits_fn.current();
  if (to_xqubits_fn.is_original(f)) return hp::to_xqubits(qubits);
  return f(qubits);
}

nb::object np_max(std::span<const nb::handle> values) {
  nb::object f = originals.hold() ? nb::borrow(max_fn.original()) : max_fn.current();
  if (max_fn.is_original(f)) return hp::reduce_extreme(values, true, f);
  return f(as_list(values));
}

nb::object np_min(std::span<const nb::handle> values) {
  nb::object f = originals.hold() ? nb::borrow(min_fn.original()) : min_fn.current();
  if (min_fn.is_original(f)) return hp::reduce_extreme(values, false, f);
  return f(as_list(values));
}

nb::object instruction_class() { return nb::borrow(instruction.current()); }

nb::object get_nxt_ins(nb::handle ins) { return dispatch(get_nxt, native::get_nxt_ins, ins); }
nb::object get_pre_ins(nb::handle ins) { return dispatch(get_pre, native::get_pre_ins, ins); }
void set_nxt_ins(nb::handle ins, nb::handle next) { dispatch(set_nxt, native::set_nxt_ins, ins, next); }
void set_pre_ins(nb::handle ins, nb::handle previous) {
  dispatch(set_pre, native::set_pre_ins, ins, previous);
}
nb::object asap_core(nb::handle circ) { return dispatch(asap, native::asap_core, circ); }
nb::object alap_core(nb::handle circ) { return dispatch(alap, native::alap_core, circ); }
void shift_circ(nb::handle circ, nb::handle t) { dispatch(shift, native::shift_circ, circ, t); }
void flush_gate_pos_to_pds(nb::handle circ) { dispatch(flush, native::flush_gate_pos_to_pds, circ); }

}  // namespace halvane::circuit
