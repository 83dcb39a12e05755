#include "cli/CliOperator.h"

namespace varnel::cli {

MessageAnswer StderrPresenter::Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                                    MessageOwner) {
  std::fprintf(out_, "varnel-cli: %s[%s] %s\n", prefix_.c_str(), caption.empty() ? "varnel-cli" : caption.c_str(),
               text.c_str());
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

bool NotificationQueue::Post(std::string_view, Notification notification) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(notification));
  }
  posted_.notify_all();
  return true;
}

std::optional<Notification> NotificationQueue::WaitNext(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!posted_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) return std::nullopt;
  Notification next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

void NotificationQueue::Clear() {
  std::lock_guard lock(mutex_);
  queue_.clear();
}

}  // namespace varnel::cli
