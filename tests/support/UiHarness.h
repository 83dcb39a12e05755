#pragma once
// End-to-end harness for the dialogs: a fresh link, receiver, session, window
// registry and recording message boxes per test. The steps that drive modal
// dialogs (UiScript) come with it.
#include <string>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "protocol/DeviceSession.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/UiScript.h"
#include "ui/AppServices.h"
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
  DialogNotificationPoster poster{windows};
  RecordingPresenter boxes{DialogBoxHost()};
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  DeviceSession session;
  RegistrationLedger ledger{op};
  std::vector<std::string> ports;  // what the port enumeration answers
  AppServices services;
};

}  // namespace varnel::test
