// Signals while native work runs with the GIL released.
//
// Python runs signal handlers on the main thread only, between bytecodes,
// so a long native call would otherwise see Ctrl-C only once it is done.
// A SignalWatch made by the calling thread lets that thread poll while it
// works: every `interval` of work, when it is the main thread, it takes the
// GIL briefly and runs the handlers. An exception they raise (Ctrl-C's
// KeyboardInterrupt) stops the work, and raise_if_stopped() raises it once
// the GIL is back. Other threads of the same work ask stopped().
#pragma once
#include <atomic>
#include <chrono>
#include "py/errors.hpp"

namespace halvane::py {

class SignalWatch {
 public:
  /// Between polls of the main thread: short against the 0.1 s in which a
  /// user expects Ctrl-C to act, long against the GIL's handover.
  static constexpr std::chrono::milliseconds interval{20};

  /// Under the GIL, on the thread that then polls.
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch &) = delete;
  SignalWatch &operator=(const SignalWatch &) = delete;

  /// Without the GIL, on the thread that made the watch: whether the work
  /// must stop, running the signal handlers when it is time to.
  bool poll();

  /// Any thread, no GIL: whether the work must stop.
  bool stopped() const { return stop_.load(std::memory_order_relaxed); }

  /// Stop the work (the call is failing anyway).
  void stop() { stop_.store(true, std::memory_order_relaxed); }

  /// Under the GIL: raise what a signal handler raised, if it did.
  void raise_if_stopped();

 private:
  bool main_;
  std::chrono::steady_clock::time_point next_;
  std::atomic<bool> stop_{false};
  PyObject *type_ = nullptr, *value_ = nullptr, *trace_ = nullptr;
};

}  // namespace halvane::py
