#include "ui/framework/WindowNotifications.h"

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <atomic>

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

void WindowRegistry::Register(QObject* window, std::string caption) {
  std::lock_guard lock(mutex_);
  for (auto& entry : windows_) {
    if (entry.second == window) {
      entry.first = std::move(caption);
      return;
    }
  }
  windows_.emplace_back(std::move(caption), window);
}

void WindowRegistry::Unregister(QObject* window) {
  std::lock_guard lock(mutex_);
  std::erase_if(windows_, [window](const auto& entry) { return entry.second == window; });
}

bool WindowRegistry::Has(std::string_view caption) const {
  std::lock_guard lock(mutex_);
  return FindLocked(caption) != nullptr;
}

QObject* WindowRegistry::Find(std::string_view caption) const {
  std::lock_guard lock(mutex_);
  return FindLocked(caption);
}

QObject* WindowRegistry::FindLocked(std::string_view caption) const {
  const auto it = std::find_if(windows_.rbegin(), windows_.rend(),
                               [caption](const auto& entry) { return entry.first == caption; });
  return it == windows_.rend() ? nullptr : it->second;
}

bool WindowRegistry::PostTo(std::string_view caption, std::unique_ptr<QEvent> event) {
  std::lock_guard lock(mutex_);
  QObject* window = FindLocked(caption);
  if (!window) return false;
  // postEvent is thread-safe and keeps the order of posts of equal priority;
  // from here on Qt owns the event.
  QCoreApplication::postEvent(window, event.release());
  return true;
}

QtNotificationPoster::QtNotificationPoster(WindowRegistry& registry) : registry_(registry) {}

bool QtNotificationPoster::Post(std::string_view windowCaption, Notification notification) {
  // Made before the lock is taken, so the lock is held only for the lookup and the post.
  auto event = std::make_unique<NotificationEvent>(std::move(notification), inFlight_);
  return registry_.PostTo(windowCaption, std::move(event));
}

bool QtNotificationPoster::HasWindow(std::string_view windowCaption) {
  return registry_.Has(windowCaption);
}

}  // namespace varnel
