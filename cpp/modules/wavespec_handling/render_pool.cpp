// RenderPool: see render_pool.hpp.
#include "modules/wavespec_handling/render_pool.hpp"

#include <system_error>

namespace halvane::wavespec_handling {

RenderPool::RenderPool(std::size_t threads) {
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      threads_.emplace_back([this] { work(false); });
    } catch (const std::system_error &) {
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
  while (LineJob *job = next(until_empty)) {
    try {
      render_line(*job);
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
  close(true);
  join();
}

void RenderPool::finish() {
  {
    nb::gil_scoped_release nogil;
    close(false);
    work(true);
    join();
  }
  // Allocation failures become MemoryError through the module's translator.
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace halvane::wavespec_handling
