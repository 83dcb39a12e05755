// varnel.exe's program: the objects of the service tool built in the order
// they depend on each other, and the dialogs run. (Without <windows.h>: its
// macros clash with the protocol's names; WinMain.cpp is the entry point.)
#include <cstdio>
#include <string>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "link/TrafficWriter.h"
#include "platform/Operator.h"
#include "platform/PortEnumeration.h"
#include "platform/StopSignals.h"
#include "protocol/DeviceSession.h"
#include "ui/AppServices.h"
#include "ui/VarnelApp.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/WindowNotifications.h"

namespace varnel {

int RunVarnelExe() {
  // From here a console stop (Ctrl+C, the console closed, log-off) waits for
  // the dialogs' loop instead of killing the program with the port still held.
  StopSignals stopSignals;
  TrafficWriter traffic(1, stderr);  // the trace on standard output, when there is one

  // Built in the order they depend on each other, so they go in the reverse
  // order: nothing below outlives what it was handed.
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, std::string(kMainDialogCaption));
  DialogNotificationPoster poster(windows);
  const Operator op{presenter, poster};
  FrameReceiver receiver;
  receiver.SetTrafficLog(&traffic);
  DeviceLink link(receiver, op, &traffic);
  DeviceSession session(link, receiver, [&link] { link.StartReader(); }, op, &traffic);
  RegistrationLedger ledger(op);
  AppServices services{link, session, windows, op, ledger,
                               [] { return EnumerateSerialPorts(std::string()); }};

  CVarnelApp application(services, &presenter, &stopSignals);
  // Returns with the reader joined and the session's timers stopped, so no
  // thread calls into the session, the link or the presenter while they are
  // destroyed below.
  application.InitInstance();
  return 0;
}

}  // namespace varnel
