#pragma once
// The operator seam on the command line. Boxes the link, the protocol and the
// ledger show become lines on standard error, answered at once; notifications
// meant for the dialogs go into a queue that the command waiting for them reads.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Operator.h"

namespace varnel::cli {

class StderrPresenter final : public MessagePresenter {
 public:
  // prefix: put before every line (the port, when several run side by side).
  explicit StderrPresenter(std::FILE* out, std::string prefix = {}) : out_(out), prefix_(std::move(prefix)) {}
  // Prints "varnel-cli: [caption] text". Nobody is there to answer a question:
  // Yes/No is answered No, so nothing changes without the command's own --yes.
  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override;

 private:
  std::FILE* out_;      // one fprintf per line: stdio keeps lines of several threads whole
  const std::string prefix_;
};

// Every caption is "there": the command stands in for the dialogs.
class NotificationQueue final : public NotificationPoster {
 public:
  using Clock = std::chrono::steady_clock;

  bool Post(std::string_view windowCaption, Notification notification) override;
  bool HasWindow(std::string_view) override { return true; }

  // The oldest notification, waiting for one until deadline; none when none came.
  std::optional<Notification> WaitNext(Clock::time_point deadline);
  // Drops everything queued (replies to requests that are no longer awaited).
  void Clear();

 private:
  std::mutex mutex_;                 // guards queue_
  std::condition_variable posted_;
  std::deque<Notification> queue_;
};

}  // namespace varnel::cli
