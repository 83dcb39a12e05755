#include "ui/framework/qt/QtNotifications.h"

#include <QCoreApplication>
#include <QDialog>

#include "ui/framework/WindowNotifications.h"
#include "ui/framework/qt/QtAccess.h"

namespace varnel {

NotificationEvent::NotificationEvent(Notification notification, std::shared_ptr<std::atomic<int>> inFlight)
    : QEvent(EventType()), notification_(std::move(notification)), inFlight_(std::move(inFlight)) {
  if (inFlight_) inFlight_->fetch_add(1);
}

NotificationEvent::~NotificationEvent() {
  if (inFlight_) inFlight_->fetch_sub(1);
}

QEvent::Type NotificationEvent::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool DialogNotificationPoster::Post(std::string_view windowCaption, Notification notification) {
  // Made before the lock is taken, so the lock is held only for the lookup and the post.
  auto event = std::make_unique<NotificationEvent>(std::move(notification), inFlight_);
  // postEvent is thread-safe and keeps the order of posts of equal priority;
  // from there on Qt owns the event. Without a window it goes here.
  return registry_.PostTo(windowCaption,
                          [&event](Dialog& window) { QCoreApplication::postEvent(Window(window), event.release()); });
}

}  // namespace varnel
