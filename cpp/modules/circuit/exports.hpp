// The parts of halvane.circuit, each in its own file, and the native
// functions they call on one another when nothing was rebound.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::circuit {
namespace nb = nanobind;

void export_instructions(nb::module_ &m);  ///< instructions.cpp
void export_links(nb::module_ &m);         ///< links.cpp
void export_application(nb::module_ &m);   ///< application.cpp
void export_scheduling(nb::module_ &m);    ///< scheduling.cpp
void export_collection(nb::module_ &m);    ///< collection.cpp
void export_frames(nb::module_ &m);        ///< frames.cpp: fold_vz
void export_printing(nb::module_ &m);      ///< printing.cpp
void export_reprs(nb::module_ &m);         ///< repr.cpp: Circuit's __repr__ and _repr_html_

/// An instruction's printed form for an error note, or an empty object when
/// printing it would consume an iterator of the caller's (qubits that are not
/// a list or tuple): a note must not change what it describes, nor run on
/// without end over an endless iterable after the error in flight stopped it.
nb::object printed_for_note(nb::handle ins);

/// Note on `e` that `circ` has not been through semi_apply, naming its first
/// instruction without line tracks, when it has one; `step` is what failed
/// ("scheduling", "collecting").
void note_unapplied(const nb::python_error &e, nb::handle circ, const char *step) noexcept;

namespace native {
nb::object get_nxt_ins(nb::handle ins);
nb::object get_pre_ins(nb::handle ins);
void set_nxt_ins(nb::handle ins, nb::handle next);
void set_pre_ins(nb::handle ins, nb::handle previous);
nb::object asap_core(nb::handle circ);
nb::object alap_core(nb::handle circ);
void shift_circ(nb::handle circ, nb::handle t);
void flush_gate_pos_to_pds(nb::handle circ);
}  // namespace native

}  // namespace halvane::circuit
