#pragma once
// Test seam for message boxes: records every box and answers it at once from
// a script, on whatever thread asked, so a test never blocks on a modal window.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Operator.h"

namespace varnel {

struct RecordedBox {
  std::string text;
  std::string caption;           // as the caller gave it
  std::string shownCaption;      // what the box would carry (application name when empty)
  MessageButtons buttons = MessageButtons::Ok;
  MessageOwner owner = MessageOwner::None;
  std::thread::id thread;        // the thread that asked
  bool onMainThread = false;
  MessageAnswer answer = MessageAnswer::Ok;
};

class RecordingPresenter final : public MessagePresenter {
 public:
  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override;

  // Yes/No boxes take their answers from this queue in order, then the
  // default (No unless changed). OK boxes are always answered OK.
  void QueueAnswer(MessageAnswer answer);
  void SetDefaultYesNoAnswer(MessageAnswer answer);
  // Called on the asking thread with each box, after it is recorded.
  void SetObserver(std::function<void(const RecordedBox&)> observer);

  std::vector<RecordedBox> Boxes() const;
  std::vector<std::string> Texts() const;
  std::size_t Count() const;
  void Clear();  // forgets the boxes and the scripted answers

  // Waits until at least count boxes have been recorded or the timeout has
  // passed; answers whether they were. On the main thread Qt's events are
  // processed meanwhile, so timers and posted calls keep running.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable recorded_;
  std::vector<RecordedBox> boxes_;
  std::deque<MessageAnswer> script_;
  MessageAnswer defaultYesNo_ = MessageAnswer::No;
  std::function<void(const RecordedBox&)> observer_;
};

}  // namespace varnel
