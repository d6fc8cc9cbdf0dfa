// RULE_COMP and get_rule: the rule of a gate for given qubits.
//
// A complex is a table from qubit keys ('0', '0x1') to rules, with a default
// under "*". Its constructor expands each description one level (a list of
// qubits is several single-qubit keys; a multi-qubit key is written inside
// a list, or as one key string such as '1x0') and adds the terminals with
// add_element, which also holds every key to the arity of the first.
#include "modules/rule/exports.hpp"
#include "py/args.hpp"
#include "py/calls.hpp"
#include "py/classes.hpp"
#include "py/iterate.hpp"
#include "py/collaborators.hpp"
#include "py/objects.hpp"
#include "py/output.hpp"
#include "modules/rule/collaborators.hpp"

namespace halvane::rule {
namespace hp = halvane::py;
using hp::equals, hp::get_attr, hp::set_attr;

namespace {

void init_comp(nb::handle self, nb::handle complex_list) {
  set_attr(self, HV_KEY("complex_list"), complex_list);
  set_attr(self, HV_KEY("complex_dict"), nb::dict());
  set_attr(self, HV_KEY("default_rule"), Py_None);
  set_attr(self, HV_KEY("number_of_qubits_sanity"), Py_None);
  hp::for_each(complex_list, [&](nb::handle pair) {
    auto [q_desc, rule_obj] = hp::unpack<2>(pair);
    nb::handle rule = rule_obj;  // Clang before 16 cannot capture a structured binding
    // A str is one description ('1x0', '12', '*'), not a sequence of characters.
    if (!PyUnicode_Check(q_desc.ptr()) && check_iterable(q_desc)) {
      hp::for_each(q_desc, [&](nb::handle q_sub_desc) {
        hp::call_method(self, HV_KEY("add_element"), {q_sub_desc, rule});
      });
    } else {
      hp::call_method(self, HV_KEY("add_element"), {q_desc, rule});
    }
  });
}

void add_element(nb::handle self, nb::handle desc, nb::handle rule) {
  nb::object qubits;
  PyObject *d = desc.ptr();
  if (PyLong_Check(d)) {
    qubits = nb::make_tuple(desc);
  } else if (PyUnicode_Check(d)) {
    if (equals(desc, HV_KEY("*"))) {
      set_attr(self, HV_KEY("default_rule"), rule);
      return;
    }
    qubits = from_xqubits(desc);
  } else if (PyList_Check(d) || PyTuple_Check(d)) {
    qubits = nb::borrow(desc);
  } else {
    hp::raise(PyExc_Exception, "add_element- Given type unknown");
  }
  Py_ssize_t nq = PyObject_Length(qubits.ptr());
  if (nq < 0) hp::rethrow();
  try {
    hp::call_method(self, HV_KEY("n_sanity_check"), {nb::int_(nq)});
  } catch (nb::python_error &e) {
    if (!e.matches(PyExc_AssertionError)) throw;
    hp::print({HV_KEY("ERROR at RULE_COMP-add_element- int,str or tuple:")});
    throw;
  }
  hp::setitem(get_attr(self, HV_KEY("complex_dict")), to_xqubits(qubits), rule);
}

void n_sanity_check(nb::handle self, nb::handle n) {
  nb::object recorded = get_attr(self, HV_KEY("number_of_qubits_sanity"));
  if (equals(recorded, Py_None)) {
    set_attr(self, HV_KEY("number_of_qubits_sanity"), n);
    return;
  }
  if (equals(recorded, n)) return;
  nb::object msg = nb::str("sanity check the qubits number are not same!, it should be ") + hp::text(recorded) +
                nb::str(", but given ") + hp::text(n);
  PyErr_SetObject(PyExc_AssertionError, msg.ptr());
  hp::rethrow();
}

nb::object get_rule(nb::handle A, nb::handle qubits) {
  if (isit(A, HV_KEY("RULE_COMP"))) {
    nb::object table = get_attr(A, HV_KEY("complex_dict"));
    if (PyDict_CheckExact(table.ptr())) return hp::get(table, qubits, get_attr(A, HV_KEY("default_rule")));
    nb::object get = get_attr(table, HV_KEY("get"));
    return get(qubits, get_attr(A, HV_KEY("default_rule")));
  }
  if (isit(A, HV_KEY("RULE"))) return nb::borrow(A);
  nb::object shown = hp::steal_or_throw(PyObject_Format(A.ptr(), nullptr));
  nb::object msg = hp::concat(hp::concat(HV_KEY("get-rule The instance "), shown), HV_KEY(" is not known!"));
  PyErr_SetObject(PyExc_Exception, msg.ptr());
  hp::rethrow();
}

/// get_rule for callers that skip the binding.
nb::object get_rule_native(nb::handle A, nb::handle qubits, nb::handle, nb::handle) { return get_rule(A, qubits); }

}  // namespace

void export_rule_selection(nb::module_ &m) {
  nb::object cls = hp::make_class(
      m, "RULE_COMP", nb::make_tuple(nb::handle(reinterpret_cast<PyObject *>(&PyBaseObject_Type))),
      "A rule complex: the rule of one gate per qubit key, with a default.\n\n"
      "``RULE_COMP([[0, rA], [[1, 2], rB], [[(0, 1)], rC], ['*', rD]])`` maps\n"
      "``'0'`` to ``rA``, ``'1'`` and ``'2'`` to ``rB``, ``'0x1'`` to ``rC``,\n"
      "and everything else to ``rD``. The first item of each pair is expanded\n"
      "one level when it is iterable and not a str, so a multi-qubit key is\n"
      "written inside a list or as one key string (``['1x0', rE]``); later pairs\n"
      "overwrite earlier ones. All keys must have the arity of the first one.");
  cls.attr("__maj_type__") = "RULE_COMP";
  cls.attr("__mnr_type__") = "RULE_COMP";
  // One default list, made here and never changed.
  hp::def_method(cls, "__init__", &init_comp, hp::arg("complex_list") = nb::list(),
                 nb::sig("def __init__(self, complex_list: typing.Iterable[typing.Any] = []) -> None"),
                 "Fill the table from ``(qubit description, rule)`` pairs.\n\n"
                 "Parameters\n----------\n"
                 "complex_list : iterable\n"
                 "    The pairs, kept as ``complex_list`` (not copied).");
  hp::def_method(cls, "add_element", &add_element, hp::arg("desc"), hp::arg("rule"),
                 nb::sig("def add_element(self, desc: int | str | list | tuple, rule: typing.Any) -> None"),
                 "Add one terminal qubit description for ``rule``.\n\n"
                 "An int is a single qubit, ``'*'`` sets ``default_rule``, any other\n"
                 "str is a qubit key (``'1x0'``), a list or tuple is one ordered\n"
                 "qubit tuple.\n\n"
                 "Raises\n------\nException\n    For any other type.\nAssertionError\n"
                 "    When the arity differs from the first key's (after printing\n"
                 "    an error line).");
  hp::def_method(cls, "n_sanity_check", &n_sanity_check, hp::arg("n"),
                 nb::sig("def n_sanity_check(self, n: int) -> None"),
                 "Record the arity ``n`` of the first key, or check a later one against it.");
  m.def("get_rule", &get_rule, hp::arg("A"), hp::arg("qubits"),
        nb::sig("def get_rule(A: typing.Any, qubits: str) -> typing.Any"),
        "The rule of a selector for a qubit key.\n\n"
        "Parameters\n----------\n"
        "A : RULE or RULE_COMP\n"
        "    Told apart by their type tags, not by class.\n"
        "qubits : str\n    The qubit key, as ``brick.to_xqubits`` makes it.\n\n"
        "Returns\n-------\nobject\n"
        "    ``A`` itself for a rule; for a complex, the key's rule, else its\n"
        "    ``default_rule`` (None when it has none).");
  hp::offer_native("get_rule", m.attr("get_rule"), &get_rule_native);
}

}  // namespace halvane::rule
