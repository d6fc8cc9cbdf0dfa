// halvane.waveintent_enumeration: the recipe catalogue of native operations.
//
// Every recipe is a subclass of waveintent.WaveIntent that overrides only its
// minor type tag and the calibration hook `will(w, cp)`. The hooks reach the
// gate helpers and `pi` through the module's globals at call time, so a user
// who rebinds `pi_gate` or `pi` changes every recipe built on them.
#include <array>
#include <string>
#include "py/args.hpp"
#include "py/classes.hpp"
#include "py/mapping.hpp"
#include "py/numbers.hpp"
#include "py/collaborators.hpp"
#include "py/module.hpp"

namespace nb = nanobind;
namespace hp = halvane::py;

namespace {

// ---- gate helpers -------------------------------------------------------

/// w.update(cp[key]); w['vz'] += cp[key]['phase_offs'].
void apply_gate(nb::handle w, nb::handle cp, nb::handle key) {
  hp::update(w, hp::getitem(cp, key));
  // The description's vz is read before the offset, as `w['vz'] += ...` does.
  // A plain add, not an in-place one: w is a shallow copy, and a mutable vz
  // (a numpy array, say) still belongs to the template.
  nb::object vz = hp::getitem(w, HV_KEY("vz"));
  nb::object offs = hp::getitem(hp::getitem(cp, key), HV_KEY("phase_offs"));
  hp::setitem(w, HV_KEY("vz"), hp::steal_or_throw(PyNumber_Add(vz.ptr(), offs.ptr())));
}

enum Gate { PI, PI2, PI12, PI23 };
constexpr std::array<const char *, 4> gate_names = {"pi_gate", "pi2gate", "pi12_gate", "pi23_gate"};
constexpr std::array<const char *, 4> gate_keys = {"pi", "pi2", "pi12", "pi23"};

std::array<PyObject *, 4> gate_key_objects;  // interned at load
enum : std::size_t { PI_VALUE = PI23 + 1, NAME_COUNT };  // after the four gate helpers, by Gate
constexpr hp::Collaborator collaborator_table[] = {
    {PI, "pi_gate"}, {PI2, "pi2gate"}, {PI12, "pi12_gate"}, {PI23, "pi23_gate"}, {PI_VALUE, "pi"}};
static_assert(hp::named_in_order(collaborator_table, NAME_COUNT));
hp::Collaborators names{collaborator_table};

/// Call the gate helper bound now under its module name.
void gate(Gate g, nb::handle w, nb::handle cp) {
  names.call(g, [&] { apply_gate(w, cp, gate_key_objects[g]); }, w, cp);
}

// ---- phases -------------------------------------------------------------

/// A drive phase k*pi/d, computed from the module's `pi` as the catalogue
/// writes it: 0 is the int 0, k == 1 is pi / d, otherwise (k * pi) / d.
struct Phase {
  int k, d;
  nb::object value() const {
    if (k == 0) return nb::int_(0);
    nb::object pi = names.current(PI_VALUE);
    nb::object num = k == 1 ? pi : hp::steal_or_throw(PyNumber_Multiply(nb::int_(k).ptr(), pi.ptr()));
    if (d == 1) return num;
    return hp::steal_or_throw(PyNumber_TrueDivide(num.ptr(), nb::int_(d).ptr()));
  }
};

void set(nb::handle w, nb::handle key, nb::handle v) { hp::setitem(w, key, v); }

// ---- the hooks ----------------------------------------------------------

template <Gate G, int K, int D>
void rotation(nb::handle w, nb::handle cp) {
  gate(G, w, cp);
  set(w, HV_KEY("phase"), Phase{K, D}.value());
}

template <Gate G>
void transition(nb::handle w, nb::handle cp) { gate(G, w, cp); }

void idle(nb::handle w, nb::handle) {
  nb::int_ zero(0);
  set(w, HV_KEY("amp"), zero);
  set(w, HV_KEY("width"), zero);
  set(w, HV_KEY("plateau"), zero);
}

void zero_frequency(nb::handle w, nb::handle cp) {
  hp::update(w, hp::getitem(cp, HV_KEY("fp")));
  set(w, HV_KEY("freq"), nb::int_(0));
}

void vz_left(nb::handle w, nb::handle cp) {
  set(w, HV_KEY("amp"), nb::int_(0));
  set(w, HV_KEY("vz"), hp::getitem(cp, HV_KEY("vz_left")));
}

void vz_right(nb::handle w, nb::handle cp) {
  set(w, HV_KEY("amp"), nb::int_(0));
  set(w, HV_KEY("vz"), hp::getitem(cp, HV_KEY("vz_right")));
}

void vz(nb::handle w, nb::handle cp) {
  nb::int_ zero(0);
  set(w, HV_KEY("width"), zero);
  set(w, HV_KEY("plateau"), zero);
  set(w, HV_KEY("amp"), zero);
  set(w, HV_KEY("vz"), hp::getitem(cp, HV_KEY("vz")));
}

void half_pi23(nb::handle w, nb::handle cp) {
  gate(PI23, w, cp);
  nb::object amp = hp::getitem(w, HV_KEY("amp"));
  set(w, HV_KEY("amp"), hp::steal_or_throw(PyNumber_TrueDivide(amp.ptr(), nb::int_(2).ptr())));
}

void f0g1(nb::handle w, nb::handle cp) { hp::update(w, hp::getitem(cp, HV_KEY("f0g1"))); }

void coupler_off(nb::handle w, nb::handle cp) {
  set(w, HV_KEY("amp"), hp::getitem(cp, HV_KEY("offamp")));
  set(w, HV_KEY("freq"), nb::int_(0));
  set(w, HV_KEY("width"), nb::int_(0));
  set(w, HV_KEY("plateau"), hp::getitem(cp, HV_KEY("offplateau")));
}

void measure(nb::handle w, nb::handle cp) { hp::update(w, hp::getitem(cp, HV_KEY("M01"))); }

struct Recipe {
  const char *name;
  void (*will)(nb::handle, nb::handle);
  const char *doc;
};

// In the order of definition; a leading m is the negative sense, a 2 after
// the axis a pi/2 rotation, W the axis halfway between X and Y.
constexpr Recipe catalogue[] = {
    {"I_p", idle, "Identity: amp, width and plateau 0; reads nothing from cp."},
    {"X_p", rotation<PI, 0, 1>, "Rotation by pi about X: the 'pi' calibration, phase 0."},
    {"Y_p", rotation<PI, 1, 2>, "Rotation by pi about Y: the 'pi' calibration, phase pi/2."},
    {"mX_p", rotation<PI, 1, 1>, "Rotation by -pi about X: the 'pi' calibration, phase pi."},
    {"mY_p", rotation<PI, 3, 2>, "Rotation by -pi about Y: the 'pi' calibration, phase 3*pi/2."},
    {"X2_p", rotation<PI2, 0, 1>, "Rotation by pi/2 about X: the 'pi2' calibration, phase 0."},
    {"Y2_p", rotation<PI2, 1, 2>, "Rotation by pi/2 about Y: the 'pi2' calibration, phase pi/2."},
    {"mX2_p", rotation<PI2, 1, 1>, "Rotation by -pi/2 about X: the 'pi2' calibration, phase pi."},
    {"mY2_p", rotation<PI2, 3, 2>, "Rotation by -pi/2 about Y: the 'pi2' calibration, phase 3*pi/2."},
    {"F_p", zero_frequency, "Zero-frequency pulse: the 'fp' calibration entries, freq 0."},
    {"W_p", rotation<PI, 1, 4>, "Rotation by pi about W: the 'pi' calibration, phase pi/4."},
    {"mW_p", rotation<PI, 5, 4>, "Rotation by -pi about W: the 'pi' calibration, phase 5*pi/4."},
    {"W2_p", rotation<PI2, 1, 4>, "Rotation by pi/2 about W: the 'pi2' calibration, phase pi/4."},
    {"mW2_p", rotation<PI2, 5, 4>, "Rotation by -pi/2 about W: the 'pi2' calibration, phase 5*pi/4."},
    {"VZ_left_p", vz_left, "Virtual Z on the left: amp 0, vz from cp['vz_left']; width and plateau kept."},
    {"VZ_right_p", vz_right, "Virtual Z on the right: amp 0, vz from cp['vz_right']; width and plateau kept."},
    {"Vz_p", vz, "Virtual Z: a zero-length description carrying vz from cp['vz']."},
    {"X12_p", transition<PI12>, "Rotation between levels 1 and 2: the 'pi12' calibration."},
    {"X23_p", transition<PI23>, "Rotation between levels 2 and 3: the 'pi23' calibration."},
    {"X232_p", half_pi23, "Half rotation between levels 2 and 3: the 'pi23' calibration, amp halved."},
    {"Xf0g1_p", f0g1, "f0-g1 pulse: the 'f0g1' calibration entries."},
    {"Coup_off_p", coupler_off, "Coupler-off pulse: amp cp['offamp'], plateau cp['offplateau'], freq and width 0."},
    {"M_p", measure, "Measurement pulse: the 'M01' calibration entries."},
};

void export_gate_helpers(nb::module_ &m) {
  for (int g = PI; g <= PI23; ++g) {
    std::string doc = std::string("Apply the '") + gate_keys[g] +
                      "' calibration to ``w`` in place.\n\n"
                      "``w.update(cp['" + gate_keys[g] + "'])``, then ``w['vz'] += cp['" + gate_keys[g] +
                      "']['phase_offs']``.";
    m.def(gate_names[g], [g](nb::handle w, nb::handle cp) { apply_gate(w, cp, gate_key_objects[g]); },
          hp::arg("w"), hp::arg("cp"),
          nb::sig((std::string("def ") + gate_names[g] + "(w: dict, cp: dict) -> None").c_str()),
          doc.c_str());
  }
}

void export_recipes(nb::module_ &m) {
  nb::tuple bases = nb::make_tuple(m.attr("pw").attr("WaveIntent"));
  for (const Recipe &r : catalogue) {
    nb::object cls = hp::make_class(m, r.name, bases, r.doc);
    cls.attr("__mnr_type__") = r.name;
    hp::def_method(cls, "will",
                   [will = r.will](nb::handle, nb::handle w, nb::handle cp) { will(w, cp); },
                   hp::arg("w"), hp::arg("cp"), nb::sig("def will(self, w: dict, cp: dict) -> None"),
                   "Write this recipe's calibration values into ``w`` (changed in place).");
  }
}

}  // namespace

NB_MODULE(waveintent_enumeration, m) {
  halvane::py::initialise_once(m);
  m.doc() = "The recipe catalogue: one WaveIntent subclass per native operation.";
  nb::module_ np = nb::module_::import_("numpy");
  m.attr("np") = np;
  m.attr("pw") = nb::module_::import_("halvane.waveintent");
  m.attr("pi") = np.attr("pi");
  m.attr("pi2") = nb::float_(hp::to_double(np.attr("pi")) / 2);
  export_gate_helpers(m);
  for (int g = PI; g <= PI23; ++g) gate_key_objects[g] = PyUnicode_InternFromString(gate_keys[g]);
  names.bind(m);
  export_recipes(m);
  halvane::py::finish_module(m);
}
