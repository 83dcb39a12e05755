#pragma once
// Notifications in a benchmark: every window exists; card readings and finished
// transfers are counted, and a waiter wakes on each post. A transfer is waited
// for the way the progress window learns of its end, not by asking the
// transfer's state over and over, which would compete with the reader for the
// transfer's lock.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include "platform/Operator.h"
#include "protocol/Notifications.h"

namespace varnel::bench {

class CountingPoster final : public NotificationPoster {
 public:
  bool Post(std::string_view, Notification n) override {
    {
      std::lock_guard lock(mutex_);
      if (n.message == WM_CARD_NUMBER) ++cards_;
      if (n.message == WM_FW_PROGRESS && n.wParam == PROGRESS_DONE) ++transfers_;
    }
    changed_.notify_all();
    return true;
  }
  bool HasWindow(std::string_view) override { return true; }
  bool WaitForCard(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [&] { return cards_ > 0; });
  }
  bool WaitForTransfers(int count, std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [&] { return transfers_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int cards_ = 0;      // guarded by mutex_
  int transfers_ = 0;  // guarded by mutex_
};

}  // namespace varnel::bench
