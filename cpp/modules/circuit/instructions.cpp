// INSTRUCTION, GATE, Circuit and instructification.
//
// Instructions are plain records: every attribute lives in the instance
// __dict__, so those added later (pos, pre_ins, nxt_ins) are absent until
// set, and instructions hash and compare by identity.
#include "modules/circuit/collaborators.hpp"
#include "modules/circuit/exports.hpp"
#include "py/args.hpp"
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/iterate.hpp"
#include "py/objects.hpp"

namespace halvane::circuit {
namespace hp = halvane::py;
using hp::concat, hp::equals, hp::get_attr, hp::set_attr;

namespace {

void init_instruction(nb::handle self, nb::handle name, nb::args qubits, nb::kwargs kwds) {
  set_attr(self, HV_KEY("nm"), name);
  set_attr(self, HV_KEY("dur"), nb::int_(0));
  set_attr(self, HV_KEY("qubits"), qubits);
  set_attr(self, HV_KEY("kwds"), kwds);
  set_attr(self, HV_KEY("lts"), Py_None);
}

/// name(q0,q1,k=v): qubits by str(), keywords as f"{k}={v}", in order.
nb::object instruction_text(nb::handle self) {
  nb::list parts;
  hp::for_each(get_attr(self, HV_KEY("qubits")), [&](nb::handle q) {
    parts.append(hp::steal_or_throw(PyObject_Str(q.ptr())));
  });
  hp::for_items(get_attr(self, HV_KEY("kwds")), [&](nb::handle k, nb::handle v) {
    nb::object key = hp::steal_or_throw(PyObject_Format(k.ptr(), nullptr));
    nb::object value = hp::steal_or_throw(PyObject_Format(v.ptr(), nullptr));
    parts.append(concat(concat(key, HV_KEY("=")), value));
  });
  nb::object joined = hp::steal_or_throw(PyUnicode_Join(HV_KEY(",").ptr(), parts.ptr()));
  nb::object head = concat(get_attr(self, HV_KEY("nm")), HV_KEY("("));
  return concat(concat(head, joined), HV_KEY(")"));
}

nb::object repr(nb::handle self) { return hp::call_method(self, HV_KEY("__str__")); }

/// The text followed by <hex(id(self))[6:]>.
nb::object strid(nb::handle self) {
  nb::object id = hp::steal_or_throw(PyLong_FromVoidPtr(self.ptr()));
  nb::object hex = hp::steal_or_throw(PyNumber_ToBase(id.ptr(), 16));
  nb::object tag = hp::steal_or_throw(PyUnicode_Substring(hex.ptr(), 6, PY_SSIZE_T_MAX));
  nb::object s = hp::call_method(self, HV_KEY("__str__"));
  return concat(concat(concat(s, HV_KEY("<")), tag), HV_KEY(">"));
}

void init_circuit(nb::handle self, nb::handle ins) {
  // One instruction where the list belongs can never be iterated later: say so now.
  const int one = PyObject_IsInstance(ins.ptr(), own_instruction_class().ptr());
  if (one < 0) hp::rethrow();
  if (one) {
    nb::object text = hp::steal_or_throw(PyObject_Str(ins.ptr()));
    PyErr_Format(PyExc_TypeError, "Circuit takes a list of instructions, not one instruction: write Circuit([%U])",
                 text.ptr());
    hp::rethrow();
  }
  set_attr(self, HV_KEY("ins"), ins);
}

nb::object get_measurement_info(nb::handle self) {
  nb::list info;
  set_attr(self, HV_KEY("measure_info"), info);
  hp::for_each(get_attr(self, HV_KEY("MGates")), [&](nb::handle mg) {
    nb::object pos = get_attr(mg, HV_KEY("pos"));
    nb::object first =
        hp::steal_or_throw(PyObject_GetItem(get_attr(mg, HV_KEY("qubits")).ptr(), nb::int_(0).ptr()));
    nb::object qubit = hp::steal_or_throw(PyNumber_Long(first.ptr()));
    nb::object entry = hp::steal_or_throw(PyList_New(2));
    PyList_SET_ITEM(entry.ptr(), 0, pos.release().ptr());
    PyList_SET_ITEM(entry.ptr(), 1, qubit.release().ptr());
    hp::call_method(get_attr(self, HV_KEY("measure_info")), HV_KEY("append"), {entry});
  });
  return nb::borrow(self);
}

/// The class of the constructors that instructification stores. A constructor
/// holds its gate name (attribute `gate`) and a docstring naming it, and
/// pickles and copies as that name alone, rebuilt in another process.
PyObject *constructor_class = nullptr;


nb::object construct(nb::handle self, nb::args args, nb::kwargs kwargs) {
  nb::object gate = get_attr(self, HV_KEY("gate"));
  nb::object all = hp::steal_or_throw(PySequence_Concat(nb::make_tuple(gate).ptr(), args.ptr()));
  return hp::call_kw(instruction_class(), all, kwargs);
}

/// Rebuilt from its gate name alone, in this process or another.
nb::object constructor_reduce(nb::handle self) {
  return nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(Py_TYPE(self.ptr()))),
                        nb::make_tuple(get_attr(self, HV_KEY("gate"))));
}

nb::object constructor_repr(nb::handle self) {
  nb::object gate = hp::steal_or_throw(PyObject_Repr(get_attr(self, HV_KEY("gate")).ptr()));
  return concat(concat(HV_KEY("<constructor of gate "), gate), HV_KEY(">"));
}

/// The name of a gate as its constructor's docstring shows it. It is read
/// without str(), which a str subclass may override, and a name with no UTF-8
/// form (a lone surrogate, or no str at all) gets a generic one: storing the
/// constructor must not depend on how its name can be shown.
std::string constructor_name(nb::handle name) {
  if (PyUnicode_Check(name.ptr())) {
    if (const char *text = PyUnicode_AsUTF8(name.ptr())) return text;
    PyErr_Clear();
  }
  return "instruction";
}

/// The docstring of a constructor, naming its gate as constructor_name does.
std::string constructor_doc(nb::handle gate) {
  std::string g = constructor_name(gate), doc = "Build an instruction of the gate '";
  doc.append(g).append("' on the given qubits, with targeted keywords.\n\n``f(0, 1, d__amp=0.3)`` is ``INSTRUCTION('");
  doc.append(g).append("', 0, 1, d__amp=0.3)``.");
  return doc;
}

/// Keep the gate name, and a docstring that names it (help() and IPython's ?).
void init_constructor(nb::handle self, nb::handle gate) {
  set_attr(self, HV_KEY("gate"), gate);
  set_attr(self, HV_KEY("__doc__"), nb::str(constructor_doc(gate).c_str()));
}

void instructification(nb::handle instructions, nb::handle glob) {
  nb::handle cls = constructor_class;
  hp::for_each(instructions, [&](nb::handle name) { hp::setitem(glob, name, cls(name)); });
}

const char *instruction_doc =
    "One gate application: a gate name, its qubits and its targeted keywords.\n\n"
    "``INSTRUCTION('CZ', 0, 1, q0__amp=0.5)`` has ``nm`` 'CZ', ``qubits``\n"
    "(0, 1), ``kwds`` {'q0__amp': 0.5}, ``dur`` 0 and ``lts`` None. Rule\n"
    "application sets ``dur`` and ``lts``, scheduling ``pos``, linking\n"
    "``pre_ins`` and ``nxt_ins``. Instructions compare and hash by identity\n"
    "and print as ``CZ(0,1,q0__amp=0.5)``.";

}  // namespace

void export_instructions(nb::module_ &m) {
  nb::handle object = reinterpret_cast<PyObject *>(&PyBaseObject_Type);
  nb::object ins = hp::make_class(m, "INSTRUCTION", nb::make_tuple(object), instruction_doc);
  ins.attr("__maj_type__") = "INSTRUCTION";
  ins.attr("__mnr_type__") = "INSTRUCTION";
  hp::def_method(ins, "__init__", &init_instruction, hp::arg("name"), hp::arg("qubits"), hp::arg("kwds"),
                 nb::sig("def __init__(self, name: str, *qubits: typing.Any, **kwds: typing.Any) -> None"),
                 "Record the gate name, the qubits (a tuple) and the keywords (a dict).");
  hp::def_method(ins, "__str__", &instruction_text, nb::sig("def __str__(self) -> str"),
                 "``name(q0,q1,k=v)``: the qubits, then the keywords in order.");
  hp::def_method(ins, "__repr__", &repr, nb::sig("def __repr__(self) -> str"),
                 "The same text as ``__str__``.");
  hp::def_method(ins, "strid", &strid, nb::sig("def strid(self) -> str"),
                 "The text followed by a tag of the object's identity, ``X_p(0)<2c1b5e90>``.");

  nb::object gate = hp::make_class(m, "GATE", nb::make_tuple(ins),
                                   "An INSTRUCTION whose minor type tag is 'GATE'.");
  gate.attr("__mnr_type__") = "GATE";

  nb::object circ = hp::make_class(
      m, "Circuit", nb::make_tuple(object),
      "An ordered list of instructions.\n\n"
      "``Circuit(ins)`` keeps the list itself as ``ins``. Rule application adds\n"
      "``MGates``, ``all_qubits`` and, with a PIN, ``pin_pos`` and ``pin_gate``.");
  hp::def_method(circ, "__init__", &init_circuit, hp::arg("ins"),
                 nb::sig("def __init__(self, ins: list[INSTRUCTION]) -> None"),
                 "Keep the list of instructions (not copied); one instruction alone is a\n"
                 "TypeError.");
  hp::def_method(circ, "get_measurement_info", &get_measurement_info,
                 nb::sig("def get_measurement_info(self) -> Circuit"),
                 "Set ``measure_info`` to ``[pos, int(first qubit)]`` per measurement.\n\n"
                 "Returns\n-------\nCircuit\n    The circuit itself.");

  nb::object ctor = hp::make_class(
      m, "_GateConstructor", nb::make_tuple(object),
      "Build an INSTRUCTION of this gate name on the given qubits and keywords.\n\n"
      "``instructification`` stores one per gate name; ``X(0, amp=1)`` is\n"
      "``INSTRUCTION('X', 0, amp=1)``, the class looked up in this module at\n"
      "each call. It pickles as its gate name (``gate``).");
  hp::def_method(ctor, "__init__", &init_constructor, hp::arg("gate"),
                 nb::sig("def __init__(self, gate: typing.Any) -> None"), "Keep the gate name as ``gate``, and a docstring naming it.");
  hp::def_method(ctor, "__call__", &construct, hp::arg("qubits"), hp::arg("kwds"),
                 nb::sig("def __call__(self, *qubits: typing.Any, **kwds: typing.Any) -> INSTRUCTION"),
                 "``INSTRUCTION(self.gate, *qubits, **kwds)``.");

  hp::def_method(ctor, "__reduce__", &constructor_reduce, nb::sig("def __reduce__(self) -> tuple[typing.Any, ...]"),
                 "``(type(self), (self.gate,))``: a constructor pickles as its gate name.");
  hp::def_method(ctor, "__repr__", &constructor_repr, nb::sig("def __repr__(self) -> str"),
                 "``<constructor of gate 'X'>``.");
  constructor_class = ctor.release().ptr();

  m.def("instructification", &instructification, hp::arg("instructions"), hp::arg("glob"),
        nb::sig("def instructification(instructions: typing.Iterable[str], "
                "glob: typing.MutableMapping[str, typing.Any]) -> None"),
        "Store a constructor of instructions under each gate name in ``glob``.\n\n"
        "After ``instructification(['X_p', 'CZ'], globals())``, ``CZ(0, 1)``\n"
        "builds ``INSTRUCTION('CZ', 0, 1)``; the class is looked up in this\n"
        "module at each call.\n\n"
        "Parameters\n----------\n"
        "instructions : iterable of str\n    The gate names.\n"
        "glob : mutable mapping\n    Where to store them, typically ``globals()``.\n\n"
        "Examples\n--------\n"
        "A dict of your own keeps the constructors visible to type checkers:\n\n"
        ">>> from halvane import circuit\n"
        ">>> gates = {}\n"
        ">>> circuit.instructification(['X', 'CZ'], gates)\n"
        ">>> X, CZ = gates['X'], gates['CZ']\n"
        ">>> circuit.Circuit([X(0), CZ(0, 1, c__amp=0.2)]).ins\n"
        "[X(0), CZ(0,1,c__amp=0.2)]");
}

}  // namespace halvane::circuit
