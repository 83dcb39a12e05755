// varnel: the service tool for the RFID card sensor.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/TrafficWriter.h"
#include "platform/MessageBox.h"
#include "platform/PortEnumeration.h"
#include "platform/StopSignals.h"
#include "protocol/DeviceSession.h"
#include "ui/AppServices.h"
#include "ui/VarnelApp.h"
#include "ui/framework/QtMessagePresenter.h"
#include "ui/framework/WindowNotifications.h"

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
  varnel::AttachTrafficLog(&traffic);
  QApplication app(argc, argv);
  varnel::InstallChineseTranslations(app);

  varnel::WindowRegistry& windows = varnel::WindowRegistry::Process();
  varnel::QtMessagePresenter presenter(&windows);
  varnel::SetMessagePresenter(&presenter);
  varnel::QtNotificationPoster poster(windows);
  varnel::SetNotificationPoster(&poster);

  varnel::RegistrationLedger ledger;
  const std::string publishedPorts = varnel::PublishedPortsDirectory();
  varnel::AppServices services{varnel::ProcessLink(), varnel::ProcessSession(), windows, ledger,
                               [publishedPorts] { return varnel::EnumerateSerialPorts(publishedPorts); }};

  varnel::CVarnelApp application(services, &presenter, &stopSignals);
  application.InitInstance();

  // Everything that could post or show a box has stopped; detach before the objects go.
  varnel::SetNotificationPoster(nullptr);
  varnel::SetMessagePresenter(nullptr);
  varnel::AttachTrafficLog(nullptr);  // the writer drains, within its bound, as it goes
  return 0;
}
