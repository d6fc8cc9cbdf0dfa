// Native threads that render parsed lines while the calling thread, holding
// the GIL, goes on parsing the next ones.
//
// The calling thread hands each parsed line over with add(); the pool's own
// threads take lines in that order and render them without Python. finish()
// releases the GIL and lets the calling thread render what is left, then
// waits for the others. A pool that is destroyed without finish() (a later
// line failed to parse, or a signal arrived) stops at once: its threads
// stop rendering between ranges and are joined before the destructor
// returns, so no thread outlives the call, and the lines already rendered
// are dropped with their arrays. While the calling thread renders or waits
// in finish(), it polls for signals (py/signals.hpp); a signal's exception
// stops every thread in the same way, and finish() raises it.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>
#include "modules/wavespec_handling/driver.hpp"
#include "py/signals.hpp"

namespace halvane::wavespec_handling {

class RenderPool {
 public:
  /// A pool that renders on `threads` threads in all, the calling one
  /// included once it calls finish().
  RenderPool(std::size_t threads, py::SignalWatch &watch);
  ~RenderPool();
  RenderPool(const RenderPool &) = delete;
  RenderPool &operator=(const RenderPool &) = delete;

  /// Queue a parsed line; it must live until finish() returns.
  void add(LineJob &job);

  /// Render the rest with the GIL released and join; rethrows the first
  /// failure of a render (an allocation failure), or a signal's exception.
  void finish();

 private:
  void work(bool until_empty);
  LineJob *next(bool until_empty);
  /// No more lines come; `drop`: nor are the queued ones rendered.
  void close(bool drop);
  void join();
  void stop();

  std::mutex m_;
  std::condition_variable ready_;
  std::deque<LineJob *> queue_;
  bool closed_ = false;         ///< no more lines come: finish(), or the pool stops
  std::exception_ptr failure_;  ///< the first failed render; the others stop
  std::vector<std::thread> threads_;
  std::size_t working_ = 0;     ///< the pool's threads not yet done
  std::condition_variable done_;
  py::SignalWatch &watch_;
};

}  // namespace halvane::wavespec_handling
