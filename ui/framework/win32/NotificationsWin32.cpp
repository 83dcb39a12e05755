// Notifications on Win32: a private window message posted to the dialog's
// window, carrying a heap copy of the notification that the window frees.
#include "ui/framework/WindowNotifications.h"
#include "ui/framework/win32/Win32Native.h"

namespace varnel {

// The window is looked up in the registry, not with FindWindowW alone: that
// one searches every program's windows, ignores case, and would hand our
// pointer to another program's window, or to a message box whose caption is
// the program's name.
bool DialogNotificationPoster::Post(std::string_view windowCaption, Notification notification) {
  auto posted = std::make_unique<PostedNotification>(std::move(notification), inFlight_);
  bool delivered = false;
  registry_.PostTo(windowCaption, [&](Dialog& dialog) {
    HWND hwnd = dialog.Native().hwnd;
    if (hwnd && PostMessageW(hwnd, kNotificationMessage, 0, reinterpret_cast<LPARAM>(posted.get()))) {
      posted.release();  // the window frees it, or drops it with its queue when it goes
      delivered = true;
    }
  });
  return delivered;  // not posted: freed here
}

}  // namespace varnel
