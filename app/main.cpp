// varnel: the service tool for the RFID card sensor.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

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
#include "ui/framework/qt/QtApplication.h"

namespace {

// Without a screen Qt would abort with a toolkit message; say what to do instead.
bool DisplayAvailable() {
#if defined(__linux__)
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;  // offscreen, vnc, ...: the operator chose
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
#else
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "varnel: no display to show its window on (DISPLAY is not set); "
                 "on a machine without a screen run it as: xvfb-run -a varnel\n");
    return 2;
  }
  // A full pipe or the file-size limit becomes an error the writer reports, not the end.
  varnel::IgnoreWriteSignals();
  // From here a stop request waits for the dialogs' event loop instead of killing the
  // program with the port still held.
  varnel::StopSignals stopSignals;
  if (!stopSignals.Installed()) std::fprintf(stderr, "varnel: cannot watch for stop signals\n");
  varnel::TrafficWriter traffic(1, stderr);  // the trace on standard output
  QApplication app(argc, argv);
  varnel::InstallChineseTranslations(app);

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
  const std::string publishedPorts = varnel::PublishedPortsDirectory();
  varnel::AppServices services{link, session, windows, op, ledger,
                               [publishedPorts] { return varnel::EnumerateSerialPorts(publishedPorts); }};

  varnel::CVarnelApp application(services, &presenter, &stopSignals);
  // Returns with the reader joined and the session's timers stopped (CVarnelApp
  // stops the link before the session), so no thread calls into the session,
  // the link or the presenter while they are destroyed below.
  application.InitInstance();
  return 0;
}
