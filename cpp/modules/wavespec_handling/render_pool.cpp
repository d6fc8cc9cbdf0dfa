// RenderPool: see render_pool.hpp.
#include "modules/wavespec_handling/render_pool.hpp"

#include <system_error>

namespace halvane::wavespec_handling {

RenderPool::RenderPool(std::size_t threads, py::SignalWatch &watch) : watch_(watch) {
  for (std::size_t t = 1; t < threads; ++t) {
    {
      std::lock_guard lock(m_);
      ++working_;
    }
    try {
      threads_.emplace_back([this] {
        work(false);
        std::lock_guard lock(m_);
        if (--working_ == 0) done_.notify_all();
      });
    } catch (const std::system_error &) {
      std::lock_guard lock(m_);
      --working_;
      break;  // no more threads to be had: the others share the work
    }
  }
}

RenderPool::~RenderPool() { stop(); }

void RenderPool::add(LineJob &job) {
  {
    std::lock_guard lock(m_);
    queue_.push_back(&job);
  }
  ready_.notify_one();
}

LineJob *RenderPool::next(bool until_empty) {
  std::unique_lock lock(m_);
  // The pool's threads wait for lines until the pool closes; the calling
  // thread, in finish(), only takes what is queued.
  if (!until_empty) ready_.wait(lock, [&] { return !queue_.empty() || closed_; });
  if (failure_ || queue_.empty()) return nullptr;
  LineJob *job = queue_.front();
  queue_.pop_front();
  return job;
}

void RenderPool::work(bool until_empty) {
  // The calling thread (until_empty) polls for signals; the pool's own
  // threads stop when it, or the pool, says so.
  const kernels::Stop stop = until_empty ? kernels::Stop([this] { return watch_.poll(); })
                                         : kernels::Stop([this] { return watch_.stopped(); });
  while (LineJob *job = next(until_empty)) {
    if (watch_.stopped()) break;
    try {
      render_line(*job, stop);
    } catch (...) {
      std::lock_guard lock(m_);
      if (!failure_) failure_ = std::current_exception();
    }
  }
}

void RenderPool::close(bool drop) {
  {
    std::lock_guard lock(m_);
    closed_ = true;
    if (drop) queue_.clear();  // what is not rendered yet never will be
  }
  ready_.notify_all();
}

void RenderPool::join() {
  for (std::thread &t : threads_) t.join();
  threads_.clear();
}

void RenderPool::stop() {
  watch_.stop();
  close(true);
  join();
}

void RenderPool::finish() {
  {
    nb::gil_scoped_release nogil;
    close(false);
    work(true);
    std::unique_lock lock(m_);
    while (working_ > 0 && !done_.wait_for(lock, py::SignalWatch::interval, [&] { return working_ == 0; })) {
      lock.unlock();
      watch_.poll();
      lock.lock();
    }
    lock.unlock();
    join();
  }
  watch_.raise_if_stopped();
  // Allocation failures become MemoryError through the module's translator.
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace halvane::wavespec_handling
