// What the circuit module's functions reach through its globals at call
// time: `rule` and `brick` and their functions, numpy's reductions, the
// class INSTRUCTION, and the module's own functions that call one another
// (the link setters and getters, the scheduling steps). Each call takes the
// direct C++ path while the binding is the original one and calls the
// Python object otherwise.
#pragma once
#include <span>
#include "py/errors.hpp"

namespace halvane::circuit {
namespace nb = nanobind;

/// Bind the collaborators to the module's globals as they are at load.
void bind_collaborators(nb::handle module);

/// rule.get_rule(A, qubits)
nb::object get_rule(nb::handle A, nb::handle qubits);

/// rule.move_track(track, w)
void move_track(nb::handle track, nb::handle w);

/// brick.to_xqubits(qubits)
nb::object to_xqubits(nb::handle qubits);

/// np.max(list(values)) and np.min(list(values))
nb::object np_max(std::span<const nb::handle> values);
nb::object np_min(std::span<const nb::handle> values);

/// The class bound to the global INSTRUCTION now.
nb::object instruction_class();

/// The module's own INSTRUCTION class, whatever the global holds now.
nb::handle own_instruction_class();

/// The module's own functions, as their globals are bound now.
nb::object get_nxt_ins(nb::handle ins);
nb::object get_pre_ins(nb::handle ins);
void set_nxt_ins(nb::handle ins, nb::handle next);
void set_pre_ins(nb::handle ins, nb::handle previous);
nb::object asap_core(nb::handle circ);
nb::object alap_core(nb::handle circ);
void shift_circ(nb::handle circ, nb::handle t);
void flush_gate_pos_to_pds(nb::handle circ);

}  // namespace halvane::circuit
