#pragma once
// A counting semaphore with a maximum: a release at the maximum leaves the count there.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace varnel {

class CountingSemaphore {
 public:
  CountingSemaphore(int initial, int maximum) : count_(initial), maximum_(maximum) {}

  void Acquire() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return count_ > 0; });
    --count_;
  }

  bool TryAcquireFor(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, wait, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
  }

  void Release() {
    {
      std::lock_guard lock(mutex_);
      if (count_ < maximum_) ++count_;
    }
    wake_.notify_one();
  }

  int Count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  int count_;  // guarded by mutex_
  const int maximum_;
};

}  // namespace varnel
