#pragma once
// The recording presenter as the process's presenter for as long as it lives,
// for the tests that have no harness to install one. Without a host it answers
// on whatever thread asked and never needs Qt.
#include "platform/MessageBox.h"
#include "tests/support/RecordingPresenter.h"

namespace varnel::test {

class MessageRecorder final : public RecordingPresenter {
 public:
  MessageRecorder() { SetMessagePresenter(this); }
  ~MessageRecorder() override { SetMessagePresenter(nullptr); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;
};

}  // namespace varnel::test
