// Functions that pickle by reference, as the interpreter's own functions do.
//
// nanobind's function objects have no pickle support of their own, so a
// function handed to a process pool or a cluster could not travel. Each module
// registers, with copyreg, a reducer for the function types of halvane's own
// nanobind domain: a function pickles as its module and qualified name (and
// unpickles to the very object found there); a bound method as the pair
// (instance, method name). Functions of other nanobind extensions live in
// other domains and are left as they are.
#pragma once
#include <nanobind/nanobind.h>

namespace halvane::py {

/// Register the reducers once per process; later calls do nothing.
void enable_pickling();

}  // namespace halvane::py
