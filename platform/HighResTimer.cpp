#include "platform/HighResTimer.h"

namespace varnel {

HighResTimer::HighResTimer(Kind kind, std::chrono::milliseconds interval,
                           std::function<void()> callback)
    : shared_(std::make_shared<Shared>()) {
  shared_->kind = kind;
  shared_->interval = interval;
  shared_->callback = std::move(callback);
  // Held until thread_ is assigned: the thread's first wait takes this lock, so
  // a callback that destroys the timer always finds thread_ complete.
  std::lock_guard lock(shared_->mutex);
  thread_ = std::thread(&HighResTimer::Run, shared_);
}

HighResTimer::~HighResTimer() {
  Kill();
  if (!thread_.joinable()) return;
  // Joining from the timer's own callback would throw; that thread sees the
  // kill once the callback returns and ends on its own.
  if (shared_->runner.load() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

void HighResTimer::Kill() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->killed = true;
  }
  shared_->wake.notify_all();
}

void HighResTimer::Run(std::shared_ptr<Shared> shared) {
  shared->runner.store(std::this_thread::get_id());
  auto due = std::chrono::steady_clock::now() + shared->interval;
  for (;;) {
    {
      std::unique_lock lock(shared->mutex);
      if (shared->wake.wait_until(lock, due, [&] { return shared->killed; })) return;
    }
    shared->callback();
    if (shared->kind == Kind::OneShot) return;
    due += shared->interval;
    // After a long stall, do not fire a burst of late ticks to catch up.
    const auto now = std::chrono::steady_clock::now();
    if (due < now) due = now;
  }
}

}  // namespace varnel
