// numpy arrays and scalars seen from C++.
//
// Arrays are made by numpy itself (so large ones get its allocator and its
// huge-page advice) and read or written through their own fields; only
// one-dimensional float64 and complex128 arrays are viewed natively, which is
// what the callers' fast paths need. Anything else is for the caller to hand
// to the interpreter.
#pragma once
#include <complex>
#include <cstddef>
#include <optional>
#include "py/errors.hpp"

namespace halvane::py {

/// The numpy module, imported on first use.
nb::handle numpy();

enum class Dtype { float64, complex128 };

/// A new uninitialised numpy array of n elements: numpy.empty(n, dtype).
/// Large arrays take their memory from the buffer cache (buffer_cache.hpp);
/// `recycled`, when given, is set to whether it was a held block.
nb::object empty(nb::handle n, Dtype dtype, bool *recycled = nullptr);
nb::object empty(Py_ssize_t n, Dtype dtype, bool *recycled = nullptr);

/// A new numpy array of n zeros: numpy.zeros(n, dtype).
nb::object zeros(Py_ssize_t n, Dtype dtype);

/// A one-dimensional float64 or complex128 numpy array, as pointer and stride.
struct ArrayView {
  Dtype dtype;
  void *data;
  Py_ssize_t size;
  Py_ssize_t stride;  ///< in elements
  double *real() const { return static_cast<double *>(data); }
  std::complex<double> *cplx() const { return static_cast<std::complex<double> *>(data); }
};

/// A view of `obj` when it is a numpy array of one of those layouts (native
/// byte order, aligned, element-aligned strides), else nothing. Only the
/// array object's own fields are read (numpy's C API), never Python-level
/// attributes or the buffer protocol, which a subclass may override. The
/// caller holds a reference to `obj` until its last read or write through
/// the view: the memory is the array's, and numpy refuses to resize an
/// array that others refer to.
std::optional<ArrayView> view(nb::handle obj, bool writable = false);

/// view() of an array made by empty() or numpy.zeros; SystemError if it is not viewable.
ArrayView own_view(nb::handle obj);

/// The memory of a C-contiguous buffer of `obj`, held until this object
/// goes, so that it is neither freed nor resized while native code (also
/// without the GIL) reads or writes it. Everything is judged from the
/// buffer itself, never from the object's attributes.
class HeldBuffer {
 public:
  /// ValueError naming `what` unless `obj` exports a C-contiguous buffer
  /// (writable when asked) of native byte order.
  HeldBuffer(nb::handle obj, bool writable, const char *what);
  ~HeldBuffer() { PyBuffer_Release(&b_); }
  HeldBuffer(const HeldBuffer &) = delete;
  HeldBuffer &operator=(const HeldBuffer &) = delete;

  void *data() const { return b_.buf; }
  Py_ssize_t itemsize() const { return b_.itemsize; }
  Py_ssize_t count() const { return b_.itemsize ? b_.len / b_.itemsize : 0; }
  /// The struct code of an item ('d', 'h', 'I', ...), or 0 for anything
  /// that is not one plain native item.
  char code() const { return code_; }

 private:
  Py_buffer b_;
  char code_ = 0;
};

/// How a Python number would combine with arrays.
enum class NumKind { real, complex, other };

/// int, float and numpy integer, bool and floating scalars are real; complex
/// and numpy complex scalars are complex; everything else is other.
NumKind num_kind(nb::handle v);

}  // namespace halvane::py
