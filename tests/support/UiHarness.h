#pragma once
// End-to-end harness for the dialogs: a fresh link, receiver, session, window
// registry and recording message boxes per test, and a step runner that drives
// modal dialogs from inside their own event loops, as an operator would.
#include <QApplication>
#include <QDialog>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "protocol/DeviceSession.h"
#include "ui/AppServices.h"
#include "ui/framework/RecordingPresenter.h"
#include "ui/framework/WindowNotifications.h"

namespace varnel::test {

class UiHarness {
 public:
  UiHarness();
  ~UiHarness();  // stops the session's timers and the link
  UiHarness(const UiHarness&) = delete;
  UiHarness& operator=(const UiHarness&) = delete;

  FrameReceiver receiver;
  WindowRegistry windows;
  QtNotificationPoster poster{windows};
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  DeviceSession session;
  RegistrationLedger ledger{op};
  std::vector<std::string> ports;  // what the port enumeration answers
  AppServices services;
};

// The modal dialog on top, if it is a T.
template <typename T>
T* ActiveModal() {
  return dynamic_cast<T*>(QApplication::activeModalWidget());
}

// Processes Qt events until cond holds or the timeout passes.
bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Steps that run one after another from a 5 ms timer while a modal run (the
// body) is under way: a step waits until its condition holds, then acts. A step
// whose condition does not hold in time fails the test and every open dialog is
// cancelled, so a broken test ends instead of hanging.
class UiScript {
 public:
  UiScript& WaitFor(std::string what, std::function<bool()> cond,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
  UiScript& Do(std::function<void()> action);
  // Waits for cond, then acts.
  UiScript& When(std::string what, std::function<bool()> cond, std::function<void()> action,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits for cond, but moves on at the timeout instead of failing: the step
  // after it asserts the same state and so reports the value it found.
  UiScript& Settle(std::string what, std::function<bool()> cond, std::chrono::milliseconds timeout);

  // Runs body (typically dialog.RunModal()) with the steps. Answers whether every step ran.
  bool RunDuring(const std::function<void()>& body);

 private:
  struct Step {
    std::string what;
    std::function<bool()> cond;
    std::function<void()> action;
    std::chrono::milliseconds timeout;
    bool failsAtTimeout = true;
  };
  std::vector<Step> steps_;
};

// Ends every running dialog with Cancel, innermost first.
void CancelAllDialogs();

}  // namespace varnel::test
