#include "platform/HighResTimer.h"

namespace varnel {

HighResTimer::HighResTimer(Kind kind, std::chrono::milliseconds interval,
                           std::function<void()> callback)
    : kind_(kind), interval_(interval), callback_(std::move(callback)) {
  thread_ = std::thread([this] { Run(); });
}

HighResTimer::~HighResTimer() {
  Kill();
  if (thread_.joinable()) thread_.join();
}

void HighResTimer::Kill() {
  {
    std::lock_guard lock(mutex_);
    killed_ = true;
  }
  wake_.notify_all();
}

void HighResTimer::Run() {
  auto due = std::chrono::steady_clock::now() + interval_;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (wake_.wait_until(lock, due, [this] { return killed_; })) return;
    }
    callback_();
    if (kind_ == Kind::OneShot) return;
    due += interval_;
    // After a long stall, do not fire a burst of late ticks to catch up.
    const auto now = std::chrono::steady_clock::now();
    if (due < now) due = now;
  }
}

}  // namespace varnel
