#pragma once
// The recording presenter for the tests that have no windows: handed to the
// code under test as its Operator, every post dropped. It answers on whatever
// thread asked and never needs Qt.
#include "platform/Operator.h"
#include "tests/support/RecordingPresenter.h"

namespace varnel::test {

// The windows of a program that has none: every post is dropped, as the
// dialog layer does when no window carries the caption.
class NoWindows final : public NotificationPoster {
 public:
  bool Post(std::string_view, Notification) override { return false; }
  bool HasWindow(std::string_view) override { return false; }
};

class MessageRecorder final : public RecordingPresenter {
 public:
  MessageRecorder() = default;
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  // These boxes, and no windows.
  Operator AsOperator() { return Operator{*this, noWindows_}; }

 private:
  NoWindows noWindows_;
};

}  // namespace varnel::test
