#include "ui/framework/WindowNotifications.h"

#include <algorithm>

namespace varnel {

void WindowRegistry::Register(Dialog* window, std::string caption) {
  std::lock_guard lock(mutex_);
  for (auto& entry : windows_) {
    if (entry.second == window) {
      entry.first = std::move(caption);
      return;
    }
  }
  windows_.emplace_back(std::move(caption), window);
}

void WindowRegistry::Unregister(Dialog* window) {
  std::lock_guard lock(mutex_);
  std::erase_if(windows_, [window](const auto& entry) { return entry.second == window; });
}

bool WindowRegistry::Has(std::string_view caption) const {
  std::lock_guard lock(mutex_);
  return FindLocked(caption) != nullptr;
}

Dialog* WindowRegistry::Find(std::string_view caption) const {
  std::lock_guard lock(mutex_);
  return FindLocked(caption);
}

Dialog* WindowRegistry::FindLocked(std::string_view caption) const {
  const auto it = std::find_if(windows_.rbegin(), windows_.rend(),
                               [caption](const auto& entry) { return entry.first == caption; });
  return it == windows_.rend() ? nullptr : it->second;
}

bool WindowRegistry::PostTo(std::string_view caption, const std::function<void(Dialog&)>& post) {
  std::lock_guard lock(mutex_);
  Dialog* window = FindLocked(caption);
  if (!window) return false;
  post(*window);
  return true;
}

DialogNotificationPoster::DialogNotificationPoster(WindowRegistry& registry) : registry_(registry) {}

bool DialogNotificationPoster::HasWindow(std::string_view windowCaption) { return registry_.Has(windowCaption); }

}  // namespace varnel
