#pragma once
// The Win32 side of a dialog and its controls: the dialog manager's window
// that stands for a Dialog, the controls' windows, and the private message
// that carries a posted notification.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Operator.h"
#include "ui/framework/Dialog.h"

namespace varnel {

// State of one modal loop, shared with the loop so that a dialog destroyed
// inside its own handler ends the loop without the loop touching freed memory.
struct ModalLoop {
  bool ended = false;  // main thread only
  int result = 0;
};

struct NativeDialog {
  HWND hwnd = nullptr;                     // destroyed with the Dialog
  std::vector<std::uint32_t> templateWords;  // what the window was made from
  std::shared_ptr<ModalLoop> loop = std::make_shared<ModalLoop>();
  bool inModalLoop = false;
  HWND disabledOwner = nullptr;            // owner window disabled for the modal run
};

struct NativeControl {
  HWND hwnd = nullptr;           // child of the dialog's window
  HWND browseButton = nullptr;   // the "..." of a file-browse edit
};

// A notification on its way in a posted message: lParam points at it; the
// receiving window frees it, and so does the poster when the post fails.
struct PostedNotification {
  PostedNotification(Notification n, std::shared_ptr<std::atomic<int>> counter)
      : notification(std::move(n)), inFlight(std::move(counter)) {
    if (inFlight) inFlight->fetch_add(1);
  }
  ~PostedNotification() {
    if (inFlight) inFlight->fetch_sub(1);
  }
  PostedNotification(const PostedNotification&) = delete;
  PostedNotification& operator=(const PostedNotification&) = delete;

  Notification notification;
  std::shared_ptr<std::atomic<int>> inFlight;  // shared with the poster that made it
};

// The private window message of a posted notification.
inline constexpr UINT kNotificationMessage = WM_APP + 0x2A0;

// The Dialog behind a window made by this layer, or nullptr for any other
// window (a message box, a file chooser, another program's window).
Dialog* DialogFromWindow(HWND hwnd);

// The top-level windows of the calling thread, topmost first.
std::vector<HWND> ThreadWindows();

}  // namespace varnel
