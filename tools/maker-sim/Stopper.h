#pragma once
// The shutdown flag every connection thread watches; stalls sleep on it so that a stop
// request ends them at once instead of after the stall.
#include <condition_variable>
#include <mutex>

namespace makersim {

class Stopper {
 public:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_cv.notify_all();
  }
  bool Stopping() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
  }
  // Sleeps for the given seconds; false when a stop came first.
  bool SleepFor(double seconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_stopping; });
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_stopping = false;
};

}  // namespace makersim
