#pragma once
// Test seam for message boxes without Qt: records every box and answers it at
// once (OK, or No to a question), on whatever thread asked. It is the process's
// presenter for as long as it lives.
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace varnel::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageButtons buttons = MessageButtons::Ok;
  MessageOwner owner = MessageOwner::None;
  bool operator==(const ShownMessage&) const = default;
};

class MessageRecorder final : public MessagePresenter {
 public:
  MessageRecorder() { SetMessagePresenter(this); }
  ~MessageRecorder() override { SetMessagePresenter(nullptr); }
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

 private:
  mutable std::mutex mutex_;
  std::vector<ShownMessage> shown_;  // guarded by mutex_
};

}  // namespace varnel::test
