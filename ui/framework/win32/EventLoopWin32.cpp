// What the application object needs of the main thread beyond the dialogs'
// modal loops, on Win32.
#include "ui/framework/EventLoop.h"

#include <thread>
#include <vector>

#include "ui/framework/win32/Win32Native.h"

namespace varnel {

std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

void EndAllDialogs() {
  // Top-level windows of this thread come topmost first: the innermost run first.
  for (HWND hwnd : ThreadWindows()) {
    if (Dialog* dialog = DialogFromWindow(hwnd); dialog && dialog->IsRunning()) dialog->EndDialog(kIdCancel);
  }
}

// A thread waits for the handle and hands each wake-up to the main thread as
// a message to a window of its own; it waits again only once onReady ran
// there (and so consumed what made the handle ready).
struct WaitableWatch::Native {
  HANDLE waitable = nullptr;
  std::function<void()> onReady;  // main thread only
  HWND window = nullptr;          // message-only window of the main thread
  HANDLE stop = nullptr;          // set by the destructor
  HANDLE handled = nullptr;       // set on the main thread after onReady
  std::thread waiter;

  static constexpr UINT kReady = WM_APP + 0x2A1;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kReady) {
      auto* self = reinterpret_cast<Native*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (self) {
        self->onReady();
        SetEvent(self->handled);
      }
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
};

WaitableWatch::WaitableWatch(std::intptr_t waitable, std::function<void()> onReady)
    : native_(std::make_unique<Native>()) {
  Native& n = *native_;
  n.waitable = reinterpret_cast<HANDLE>(waitable);
  n.onReady = std::move(onReady);
  static const wchar_t* const kClass = L"VarnelWaitableWatch";
  WNDCLASSW wc{};
  wc.lpfnWndProc = Native::WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);  // fails harmlessly when already registered
  n.window = CreateWindowW(kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!n.window) return;
  SetWindowLongPtrW(n.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&n));
  n.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  n.handled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  n.waiter = std::thread([&n] {
    for (;;) {
      HANDLE both[2] = {n.stop, n.waitable};
      if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
      PostMessageW(n.window, Native::kReady, 0, 0);
      HANDLE after[2] = {n.stop, n.handled};
      if (WaitForMultipleObjects(2, after, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
    }
  });
}

WaitableWatch::~WaitableWatch() {
  Native& n = *native_;
  if (n.stop) SetEvent(n.stop);
  if (n.waiter.joinable()) n.waiter.join();
  if (n.window) DestroyWindow(n.window);  // a wake-up still queued goes with it
  if (n.stop) CloseHandle(n.stop);
  if (n.handled) CloseHandle(n.handled);
}

}  // namespace varnel
