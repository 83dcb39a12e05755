#pragma once
// High-resolution timers: one thread per timer, sleeping until the next due
// instant on a steady clock, so a periodic timer keeps its period without drift.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace varnel {

class HighResTimer {
 public:
  enum class Kind { OneShot, Periodic };

  HighResTimer(Kind kind, std::chrono::milliseconds interval, std::function<void()> callback);
  // Stops the timer and joins its thread. A callback that is running is waited for.
  ~HighResTimer();
  HighResTimer(const HighResTimer&) = delete;
  HighResTimer& operator=(const HighResTimer&) = delete;

  // Asks the timer to fire no more, without waiting for a callback that is
  // running (it may be blocked on something the caller is about to release).
  void Kill();

 private:
  void Run();

  const Kind kind_;
  const std::chrono::milliseconds interval_;
  std::function<void()> callback_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool killed_ = false;  // guarded by mutex_
  std::thread thread_;   // owned by this object; joined in the destructor
};

}  // namespace varnel
