#include "ui/framework/RecordingPresenter.h"

#include <QCoreApplication>
#include <QThread>

#include "ui/framework/QtMessagePresenter.h"

namespace varnel {

MessageAnswer RecordingPresenter::Show(const std::string& text, const std::string& caption,
                                       MessageButtons buttons, MessageOwner owner) {
  RecordedBox box;
  box.text = text;
  box.caption = caption;
  box.shownCaption = caption.empty() ? ApplicationName() : caption;
  box.buttons = buttons;
  box.owner = owner;
  box.thread = std::this_thread::get_id();
  const QCoreApplication* app = QCoreApplication::instance();
  box.onMainThread = app && QThread::currentThread() == app->thread();
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

void RecordingPresenter::QueueAnswer(MessageAnswer answer) {
  std::lock_guard lock(mutex_);
  script_.push_back(answer);
}

void RecordingPresenter::SetDefaultYesNoAnswer(MessageAnswer answer) {
  std::lock_guard lock(mutex_);
  defaultYesNo_ = answer;
}

void RecordingPresenter::SetObserver(std::function<void(const RecordedBox&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<RecordedBox> RecordingPresenter::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingPresenter::Texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& box : boxes_) texts.push_back(box.text);
  return texts;
}

std::size_t RecordingPresenter::Count() const {
  std::lock_guard lock(mutex_);
  return boxes_.size();
}

void RecordingPresenter::Clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  script_.clear();
}

bool RecordingPresenter::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const QCoreApplication* app = QCoreApplication::instance();
  const bool mainThread = app && QThread::currentThread() == app->thread();
  std::unique_lock lock(mutex_);
  while (boxes_.size() < count) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    if (mainThread) {
      lock.unlock();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      lock.lock();
      // A short wait for a box from another thread; the loop re-checks.
      recorded_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                   std::chrono::milliseconds(5), deadline - now));
    } else {
      recorded_.wait_until(lock, deadline);
    }
  }
  return true;
}

}  // namespace varnel
