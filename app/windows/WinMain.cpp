// varnel.exe: the service tool for the RFID card sensor on Windows, with the
// dialogs on the system's own windows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // From here a console stop (Ctrl+C, the console closed, log-off) waits for
  // the dialogs' loop instead of killing the program with the port still held.
  varnel::StopSignals stopSignals;
  varnel::TrafficWriter traffic(1, stderr);  // the trace on standard output, when there is one

  // Built in the order they depend on each other, so they go in the reverse
  // order: nothing below outlives what it was handed.
  varnel::WindowRegistry windows;
  varnel::DialogMessagePresenter presenter(windows, std::string(varnel::kMainDialogCaption));
  varnel::DialogNotificationPoster poster(windows);
  const varnel::Operator op{presenter, poster};
  varnel::FrameReceiver receiver;
  receiver.SetTrafficLog(&traffic);
  varnel::DeviceLink link(receiver, op, &traffic);
  varnel::DeviceSession session(link, receiver, [&link] { link.StartReader(); }, op, &traffic);
  varnel::RegistrationLedger ledger(op);
  varnel::AppServices services{link, session, windows, op, ledger,
                               [] { return varnel::EnumerateSerialPorts(std::string()); }};

  varnel::CVarnelApp application(services, &presenter, &stopSignals);
  // Returns with the reader joined and the session's timers stopped, so no
  // thread calls into the session, the link or the presenter while they are
  // destroyed below.
  application.InitInstance();
  return 0;
}
