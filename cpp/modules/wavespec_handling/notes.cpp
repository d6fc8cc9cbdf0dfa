// Notes for errors of the sampling driver, built only when one passes. The
// entry is read without running user code: only a dict's own storage is
// looked at, and what cannot be read is left out of the note.
#include "modules/wavespec_handling/collaborators.hpp"
#include "modules/wavespec_handling/notes.hpp"
#include "modules/wavespec_handling/driver_parse.hpp"
#include "py/errors.hpp"
#include "py/mapping.hpp"
#include "py/reprs.hpp"

namespace halvane::wavespec_handling {
namespace hp = halvane::py;

namespace {

/// pd[key] from a dict's storage, or an empty handle.
nb::handle peek(nb::handle pd, nb::handle key) {
  if (!PyDict_Check(pd.ptr())) return {};
  PyObject *v = PyDict_GetItemWithError(pd.ptr(), key.ptr());
  if (!v) PyErr_Clear();
  return v;
}

/// "while sampling entry #k (pulse, shape 'cos', pos 6.5e-07 s)"
nb::object where(nb::handle pd, std::size_t index) {
  nb::handle edge = peek(pd, HV_KEY("edge_shape"));
  nb::handle shape = edge.is_valid() ? edge : peek(pd, HV_KEY("shape"));
  nb::handle pos = peek(pd, HV_KEY("pos"));
  nb::object text = hp::steal_or_throw(PyUnicode_FromFormat(
      "while sampling entry #%zu (%s", index, !PyDict_Check(pd.ptr()) ? Py_TYPE(pd.ptr())->tp_name
                                              : edge.is_valid()         ? "level step"
                                                                        : "pulse"));
  auto append = [&](PyObject *part) {
    nb::object p = hp::steal_or_throw(part);
    text = hp::steal_or_throw(PyUnicode_Concat(text.ptr(), p.ptr()));
  };
  // Reprs that fail are shown as "<Type object>", so the note keeps its place.
  if (shape.is_valid())
    append(PyUnicode_FromFormat(", %s %s", edge.is_valid() ? "edge_shape" : "shape", hp::safe_repr(shape).c_str()));
  if (pos.is_valid()) append(PyUnicode_FromFormat(", pos %s s", hp::safe_repr(pos).c_str()));
  append(PyUnicode_FromString(")"));
  return text;
}

/// The names of shapeTable and the closest one, when the error is the
/// KeyError of a shape name of this entry that the table lacks.
nb::object unknown_shape(const nb::python_error &e, nb::handle pd) {
  if (!e.matches(PyExc_KeyError)) return {};
  nb::object args = hp::steal_or_throw(PyObject_GetAttrString(e.value().ptr(), "args"));
  if (!PyTuple_Check(args.ptr()) || PyTuple_GET_SIZE(args.ptr()) != 1) return {};
  nb::handle name = PyTuple_GET_ITEM(args.ptr(), 0);
  if (!PyUnicode_CheckExact(name.ptr())) return {};
  bool named = false;
  for (nb::handle key : {HV_KEY("edge_shape"), HV_KEY("shape")}) {
    nb::handle v = peek(pd, key);
    if (v.is_valid() && PyUnicode_CheckExact(v.ptr()) && PyUnicode_Compare(v.ptr(), name.ptr()) == 0) named = true;
  }
  nb::object table = names.current(SHAPE_TABLE);
  if (!named || !PyDict_Check(table.ptr()) || PyDict_Contains(table.ptr(), name.ptr()) != 0) return {};
  nb::object check = hp::steal_or_throw(PyImport_ImportModule("halvane.check"));
  return check.attr("unknown_shape_note")(name, table);
}

/// A level step whose edge_shape names an envelope of the table: envelopes
/// take (X, pd, cp), so calling one as an edge fails with a TypeError.
nb::object envelope_as_edge(const nb::python_error &e, nb::handle pd) {
  nb::handle edge = peek(pd, HV_KEY("edge_shape"));
  nb::object table = names.current(SHAPE_TABLE);
  if (!e.matches(PyExc_TypeError) || !edge.is_valid() || !PyUnicode_CheckExact(edge.ptr()) ||
      !PyDict_Check(table.ptr()) || PyDict_Contains(table.ptr(), edge.ptr()) != 1 ||
      PyUnicode_CompareWithASCIIString(edge.ptr(), "sine_edge") == 0)
    return {};
  return hp::steal_or_throw(PyUnicode_FromFormat(
      "edge_shape %R names an envelope shape, called as f(X, pd, cp); a level step needs an edge "
      "f(X, x0, w) such as 'sine_edge'", edge.ptr()));
}

}  // namespace

void note_entry(const nb::python_error &e, nb::handle pd, std::size_t index) noexcept {
  hp::add_note(e, [&] { return where(pd, index); });
  hp::add_note(e, [&] { return unknown_shape(e, pd); });
  hp::add_note(e, [&] { return envelope_as_edge(e, pd); });
}

}  // namespace halvane::wavespec_handling
