#include "platform/Win32.h"

#include <atomic>

#include "platform/StopSignals.h"

namespace varnel {
namespace {

constexpr DWORD kLastEventWait = 5000;  // the system ends the process after a close event's handler returns

// The one piece of static state: the console's control handler gets no argument of ours,
// so the event it signals must be reachable from static storage (atomic: the handler runs
// on a thread of the system's).
std::atomic<HANDLE> g_stopEvent{nullptr};
std::atomic<HANDLE> g_stoppedEvent{nullptr};  // set when the object goes, i.e. the program has stopped
std::atomic<int> g_lastEvent{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  const HANDLE stop = g_stopEvent.load();
  if (stop == nullptr) return FALSE;
  g_lastEvent.store(static_cast<int>(type) + 1);  // CTRL_C_EVENT is 0; 0 means "none"
  ::SetEvent(stop);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // Returning lets the system end the process at once: give the orderly stop its time.
    if (const HANDLE stopped = g_stoppedEvent.load()) ::WaitForSingleObject(stopped, kLastEventWait);
  }
  return TRUE;
}

}  // namespace

struct StopSignals::Previous {};  // the console handler is added to a list, not swapped

StopSignals::StopSignals() {
  const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE none = nullptr;
  if (stop == nullptr || stopped == nullptr || !g_stopEvent.compare_exchange_strong(none, stop)) {
    if (stop) ::CloseHandle(stop);
    if (stopped) ::CloseHandle(stopped);
    return;
  }
  g_stoppedEvent.store(stopped);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  waitable_ = reinterpret_cast<std::intptr_t>(stop);
  writeEnd_ = reinterpret_cast<std::intptr_t>(stopped);
  installed_ = true;
}

StopSignals::~StopSignals() {
  if (!installed_) return;
  ::SetEvent(reinterpret_cast<HANDLE>(writeEnd_));
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_stopEvent.store(nullptr);
  g_stoppedEvent.store(nullptr);
  // A handler still waiting on the stopped event gets it; the handles go with the process.
}

int StopSignals::Take() {
  if (!installed_) return 0;
  ::ResetEvent(reinterpret_cast<HANDLE>(waitable_));
  return g_lastEvent.exchange(0);
}

void IgnoreWriteSignals() {}

}  // namespace varnel
