"""Quickstart: from a line template and calibration data to pulse descriptions.

A control line has a template pulse description; each qubit has calibration
data. Recipes copy the template, fill it from the calibration, and apply
keywords, so a gate's pulses come out as plain dicts ready to be scheduled
and sampled.
"""

from halvane import brick
from halvane import waveintent_enumeration as recipes

# The XY drive line of qubit 0: a cosine pulse on a 5 GHz carrier.
xy_template = {
    "shape": "cos", "pos": 0.0, "width": 0.0, "plateau": 0.0, "amp": 0.0,
    "freq": 5.0e9, "phase": 0.0, "phase1": 0.0, "drag_scale": 0.0, "vz": 0.0,
}

# Calibration of qubit 0: a pi and a pi/2 rotation, and a virtual-Z phase.
calibration = {
    "pi": {"amp": 0.52, "width": 40e-9, "plateau": 0.0, "drag_scale": 0.4e-9, "phase_offs": 0.01},
    "pi2": {"amp": 0.26, "width": 40e-9, "plateau": 0.0, "drag_scale": 0.4e-9, "phase_offs": 0.005},
    "vz": 0.25,
}

sequence = [
    ("X", recipes.X_p(), {}),
    ("Y/2", recipes.Y2_p(), {}),
    ("-X/2, detuned", recipes.mX2_p(), {"drag_detuning": 2e6}),
    ("idle 100 ns", recipes.I_p(plateau=100e-9), {}),
    ("virtual Z", recipes.Vz_p(), {}),
]

print(f"{'gate':<16}{'amp':>7}{'width/ns':>10}{'plateau/ns':>12}{'phase':>9}{'vz':>8}  extra")
for label, recipe, keywords in sequence:
    pd = recipe.get_pd(xy_template, calibration, **keywords)
    extra = {k: v for k, v in pd.items() if k not in xy_template}
    print(f"{label:<16}{pd['amp']:>7.3f}{pd['width'] * 1e9:>10.1f}{pd['plateau'] * 1e9:>12.1f}"
          f"{pd['phase']:>9.4f}{pd['vz']:>8.3f}  {extra}")
    assert brick.isit(recipe, "WaveIntent")

# Targeted keywords: 'd0__amp' reaches only the line called 'd0'.
kw = {"amp": 0.1, "d0__amp": 0.3, "d1__amp": 0.5}
print("keywords for d0:", brick.catch(kw, "d0"), "| for d1:", brick.catch(kw, "d1"))
print("template untouched:", xy_template["amp"] == 0.0)
