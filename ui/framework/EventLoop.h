#pragma once
// What the application object needs of the main thread's event loop beyond
// the dialogs' own modal runs. Defined once per backend. Main thread only.
#include <cstdint>
#include <functional>
#include <memory>

namespace varnel {

// Ends every running dialog with Cancel, the innermost first, as a quit does.
// Each modal loop ends when control comes back to it.
void EndAllDialogs();

// Calls onReady on the main thread, from whatever event loop runs there (the
// modal runs keep one turning), whenever the waitable is ready: on POSIX a
// descriptor that turned readable, on Windows an event HANDLE that is
// signalled. onReady must consume what made it ready. Watches until destroyed.
class WaitableWatch {
 public:
  WaitableWatch(std::intptr_t waitable, std::function<void()> onReady);
  ~WaitableWatch();
  WaitableWatch(const WaitableWatch&) = delete;
  WaitableWatch& operator=(const WaitableWatch&) = delete;

 private:
  struct Native;  // the backend's
  std::unique_ptr<Native> native_;
};

}  // namespace varnel
