#pragma once
// Test seam for message boxes without Qt: records every box and answers it at
// once (OK, or No to a question), on whatever thread asked. Handed to the code
// under test as its Operator, with no windows to post to.
#include <mutex>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace varnel::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageButtons buttons = MessageButtons::Ok;
  MessageOwner owner = MessageOwner::None;
  bool operator==(const ShownMessage&) const = default;
};

// The windows of a program that has none: every post is dropped, as the
// dialog layer does when no window carries the caption.
class NoWindows final : public NotificationPoster {
 public:
  bool Post(std::string_view, Notification) override { return false; }
  bool HasWindow(std::string_view) override { return false; }
};

class MessageRecorder final : public MessagePresenter {
 public:
  MessageRecorder() = default;
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({text, caption, buttons, owner});
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }

  std::vector<ShownMessage> Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : Shown()) texts.push_back(m.text);
    return texts;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    shown_.clear();
  }
  // These boxes, and no windows.
  Operator AsOperator() { return Operator{*this, noWindows_}; }

 private:
  NoWindows noWindows_;
  mutable std::mutex mutex_;
  std::vector<ShownMessage> shown_;  // guarded by mutex_
};

}  // namespace varnel::test
