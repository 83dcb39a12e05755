#pragma once
// A posted notification on its way to a Qt window.
#include <QEvent>
#include <atomic>
#include <memory>

#include "platform/Operator.h"

namespace varnel {

// It owns the notification's text; the text goes with the event, whether the
// event is delivered or thrown away with a window that closed before it arrived.
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

}  // namespace varnel
