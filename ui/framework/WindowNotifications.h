#pragma once
// Notifications to top-level windows found by their exact caption: the
// registry of captions, the event that carries a notification, and the
// poster the program hands on with its message boxes.
#include <QEvent>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Operator.h"

class QObject;

namespace varnel {

// A posted notification on its way to a window. It owns the notification's
// text; the text goes with the event, whether the event is delivered or
// thrown away with a window that closed before it arrived.
class NotificationEvent final : public QEvent {
 public:
  // inFlight, when given, counts this event for as long as it exists.
  explicit NotificationEvent(Notification notification, std::shared_ptr<std::atomic<int>> inFlight = nullptr);
  ~NotificationEvent() override;
  NotificationEvent(const NotificationEvent&) = delete;
  NotificationEvent& operator=(const NotificationEvent&) = delete;

  static QEvent::Type EventType();
  Notification& Payload() { return notification_; }

 private:
  Notification notification_;
  std::shared_ptr<std::atomic<int>> inFlight_;  // shared with the poster that made the event
};

// The top-level windows that exist now, by exact caption (UTF-8). Windows
// register and unregister on the main thread; lookups and posts come from any
// thread. A window is never destroyed while a post to it holds the lock,
// because it unregisters (under the lock) before it goes.
class WindowRegistry {
 public:
  WindowRegistry() = default;
  WindowRegistry(const WindowRegistry&) = delete;
  WindowRegistry& operator=(const WindowRegistry&) = delete;

  // Adds the window, or changes its caption when it is already there.
  void Register(QObject* window, std::string caption);
  void Unregister(QObject* window);
  bool Has(std::string_view caption) const;
  // Main thread only: the answer stays valid only as long as the caller does
  // not give the window a chance to close.
  QObject* Find(std::string_view caption) const;
  // Posts the event to the window with this caption (the newest, when several
  // carry it); answers false and destroys the event when there is none.
  bool PostTo(std::string_view caption, std::unique_ptr<QEvent> event);

 private:
  QObject* FindLocked(std::string_view caption) const;

  mutable std::mutex mutex_;                                // guards windows_
  std::vector<std::pair<std::string, QObject*>> windows_;  // oldest first
};

// NotificationPoster on Qt: events posted to the window's object are handled
// on the main thread in posting order.
class QtNotificationPoster final : public NotificationPoster {
 public:
  explicit QtNotificationPoster(WindowRegistry& registry);
  bool Post(std::string_view windowCaption, Notification notification) override;
  bool HasWindow(std::string_view windowCaption) override;
  // Notifications this poster handed on that still exist, waiting for their
  // window or being handled: one that is never freed shows here.
  int InFlight() const { return inFlight_->load(); }

 private:
  WindowRegistry& registry_;  // outlives the poster
  // Atomic: events are made on any thread and freed on the main thread; shared,
  // because a queued event may outlive the poster.
  std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace varnel
