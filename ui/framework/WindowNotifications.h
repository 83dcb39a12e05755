#pragma once
// Notifications to top-level windows found by their exact caption: the
// registry of captions and the poster the program hands on with its message
// boxes. How a notification travels to the window is the backend's business
// (DialogNotificationPoster::Post is defined once per backend: a posted event
// on Qt, a posted window message on Win32); both deliver it on the main thread,
// in posting order, through Dialog::DeliverNotification.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Operator.h"

namespace varnel {

class Dialog;

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
  void Register(Dialog* window, std::string caption);
  void Unregister(Dialog* window);
  bool Has(std::string_view caption) const;
  // Main thread only: the answer stays valid only as long as the caller does
  // not give the window a chance to close.
  Dialog* Find(std::string_view caption) const;
  // Runs post with the window that has this caption (the newest, when several
  // carry it) while holding the lock, so the window cannot go meanwhile; post
  // must not wait for the main thread. Answers false when there is none.
  bool PostTo(std::string_view caption, const std::function<void(Dialog&)>& post);

 private:
  Dialog* FindLocked(std::string_view caption) const;

  mutable std::mutex mutex_;                               // guards windows_
  std::vector<std::pair<std::string, Dialog*>> windows_;  // oldest first
};

// NotificationPoster over the registry. Notifications are delivered on the
// main thread in posting order; one whose window closes before it arrives is
// dropped with its text.
class DialogNotificationPoster final : public NotificationPoster {
 public:
  explicit DialogNotificationPoster(WindowRegistry& registry);
  bool Post(std::string_view windowCaption, Notification notification) override;  // per backend
  bool HasWindow(std::string_view windowCaption) override;
  // Notifications this poster handed on that still exist, waiting for their
  // window or being handled: one that is never freed shows here.
  int InFlight() const { return inFlight_->load(); }

 private:
  WindowRegistry& registry_;  // outlives the poster
  // Each notification on its way counts itself here while it exists. Atomic:
  // they are made on any thread and freed on the main thread; shared, because
  // a queued one may outlive the poster.
  std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace varnel
