// The pieces of shapes.cpp that the shapes of other files are made of.
#pragma once
#include <string>

#include "py/samples.hpp"
#include "kernels/shapes.hpp"
#include "modules/wavespec_handling/exports.hpp"

namespace halvane::wavespec_handling::shape_parts {

/// The kernel of `s` on the sample times xs, into a fresh complex128 array.
nb::object render(kernels::Shape s, const kernels::ShapeParams &p, const py::Reals &xs);
/// square(X, pd) through its current module-level binding.
nb::object square_call(nb::handle X, nb::handle pd);
/// cosine(X, pd), as the module's cosine computes it.
nb::object cosine(nb::handle X, nb::handle pd);
/// Whether cosine would run its kernel: square, sine_edge, seige and mn are the originals.
bool cosine_native();
/// |width| < 1e-14: the sine family and gauss fall back to square.
bool narrow(double width);

using ShapeFn = nb::object (*)(nb::handle X, nb::handle pd, nb::handle cp);
/// Define the shape function `name`, with the signature and the parameters
/// section every shape shares, and offer it to native_shape() as `s`.
void def_shape(nb::module_ &m, kernels::Shape s, const char *name, ShapeFn f, const std::string &doc);

}  // namespace halvane::wavespec_handling::shape_parts
