#pragma once
// High-resolution timers: one thread per timer, sleeping until the next due
// instant on a steady clock, so a periodic timer keeps its period without drift.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace varnel {

class HighResTimer {
 public:
  enum class Kind { OneShot, Periodic };

  HighResTimer(Kind kind, std::chrono::milliseconds interval, std::function<void()> callback);
  // Stops the timer and joins its thread. A callback that is running is waited for,
  // except when the timer is destroyed from its own callback: then the thread
  // ends by itself once the callback returns.
  ~HighResTimer();
  HighResTimer(const HighResTimer&) = delete;
  HighResTimer& operator=(const HighResTimer&) = delete;

  // Asks the timer to fire no more, without waiting for a callback that is
  // running (it may be blocked on something the caller is about to release).
  void Kill();

 private:
  // What the timer thread uses; shared with it so that the thread never touches
  // a destroyed timer object.
  struct Shared {
    Kind kind;
    std::chrono::milliseconds interval;
    std::function<void()> callback;
    std::mutex mutex;
    std::condition_variable wake;
    bool killed = false;  // guarded by mutex
    std::atomic<std::thread::id> runner{};  // the timer thread, set by itself when it starts
  };
  static void Run(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;  // owned jointly with the timer thread
  std::thread thread_;              // owned by this object; joined in the destructor
};

}  // namespace varnel
