#pragma once
// Message boxes for tests: records every box and answers it at once from a
// script, on whatever thread asked, so a test never blocks on a modal window.
// Free of Qt, so the tests without it use the same recorder; the dialog tests
// hand it what it must know of the Qt application (QtBoxHost in UiHarness).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
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

// What the operator meets of a box (text, caption, buttons, owner), for
// comparing whole lists of boxes.
using BoxSeen = std::tuple<std::string, std::string, MessageButtons, MessageOwner>;
inline std::vector<BoxSeen> Seen(const std::vector<RecordedBox>& boxes) {
  std::vector<BoxSeen> seen;
  for (const RecordedBox& b : boxes) seen.emplace_back(b.text, b.caption, b.buttons, b.owner);
  return seen;
}

// What a recorder knows of the application around it. Left empty, the main
// thread is the one that made the recorder and waiting only waits.
struct BoxHost {
  std::string applicationName;          // the caption of a box that has none of its own
  std::function<bool()> onMainThread;   // asked on the thread that shows the box
  std::function<void()> processEvents;  // run while the main thread waits for a box
};

class RecordingPresenter : public MessagePresenter {
 public:
  explicit RecordingPresenter(BoxHost host = {}) : host_(std::move(host)) {
    if (!host_.onMainThread)
      host_.onMainThread = [creator = std::this_thread::get_id()] { return std::this_thread::get_id() == creator; };
  }

  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override {
    RecordedBox box;
    box.text = text;
    box.caption = caption;
    box.shownCaption = caption.empty() ? host_.applicationName : caption;
    box.buttons = buttons;
    box.owner = owner;
    box.thread = std::this_thread::get_id();
    box.onMainThread = host_.onMainThread();
    std::function<void(const RecordedBox&)> observer;
    {
      std::lock_guard lock(mutex_);
      if (buttons == MessageButtons::YesNo) {
        box.answer = defaultYesNo_;
        if (!script_.empty()) {
          box.answer = script_.front();
          script_.pop_front();
        }
      }
      boxes_.push_back(box);
      observer = observer_;
    }
    recorded_.notify_all();
    if (observer) observer(box);
    return box.answer;
  }

  // Yes/No boxes take their answers from this queue in order, then the
  // default (No unless changed). OK boxes are always answered OK.
  void QueueAnswer(MessageAnswer answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(answer);
  }
  void SetDefaultYesNoAnswer(MessageAnswer answer) {
    std::lock_guard lock(mutex_);
    defaultYesNo_ = answer;
  }
  // Called on the asking thread with each box, after it is recorded.
  void SetObserver(std::function<void(const RecordedBox&)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
  }

  std::vector<RecordedBox> Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : Boxes()) texts.push_back(box.text);
    return texts;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return boxes_.size();
  }
  void Clear() {  // forgets the boxes and the scripted answers
    std::lock_guard lock(mutex_);
    boxes_.clear();
    script_.clear();
  }

  // Waits until at least count boxes have been recorded or the timeout has
  // passed; answers whether they were. On the main thread the host's events
  // are processed meanwhile, so timers and posted calls keep running.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const bool pump = host_.processEvents && host_.onMainThread();
    std::unique_lock lock(mutex_);
    while (boxes_.size() < count) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      if (pump) {
        lock.unlock();
        host_.processEvents();
        lock.lock();
        // A short wait for a box from another thread; the loop re-checks.
        recorded_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(5),
                                                                               deadline - now));
      } else {
        recorded_.wait_until(lock, deadline);
      }
    }
    return true;
  }

 private:
  BoxHost host_;  // set at construction, read only afterwards
  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable recorded_;
  std::vector<RecordedBox> boxes_;
  std::deque<MessageAnswer> script_;
  MessageAnswer defaultYesNo_ = MessageAnswer::No;
  std::function<void(const RecordedBox&)> observer_;
};

}  // namespace varnel
