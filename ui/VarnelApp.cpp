#include "ui/VarnelApp.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

#ifdef _WIN32
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

#include "platform/StopSignals.h"
#include "ui/VarnelDlg.h"
#include "ui/framework/QtMessagePresenter.h"

namespace varnel {

CVarnelApp::CVarnelApp(AppServices& services, QtMessagePresenter* presenter, StopSignals* stopSignals)
    : services_(services), presenter_(presenter), stopSignals_(stopSignals) {}

bool CVarnelApp::InitInstance() {
  std::unique_ptr<QObject> stopWatch = WatchStopSignals();
  {
    CVarnelDlg dialog(services_);
    dialog.RunModal();
  }
  stopWatch.reset();
  StopLink();
  return false;
}

std::unique_ptr<QObject> CVarnelApp::WatchStopSignals() {
  if (!stopSignals_ || !stopSignals_->Installed()) return nullptr;
  auto onStop = [this] {
    const int signal = stopSignals_->Take();
    if (signal == 0) return;
    std::fprintf(stderr, "varnel: stop requested (signal %d), closing\n", signal);
    CloseAllDialogs();
  };
#ifdef _WIN32
  auto watch = std::make_unique<QWinEventNotifier>(reinterpret_cast<HANDLE>(stopSignals_->Waitable()));
  QObject::connect(watch.get(), &QWinEventNotifier::activated, onStop);
#else
  auto watch = std::make_unique<QSocketNotifier>(static_cast<qintptr>(stopSignals_->Waitable()), QSocketNotifier::Read);
  QObject::connect(watch.get(), &QSocketNotifier::activated, onStop);
#endif
  return watch;
}

void CVarnelApp::CloseAllDialogs() {
  if (presenter_) presenter_->Shutdown();
  // Each dialog's modal loop ends when control comes back to it, the innermost first.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* dialog = dynamic_cast<Dialog*>(window); dialog && dialog->IsRunning()) dialog->EndDialog(kIdCancel);
  }
}

void CVarnelApp::StopLink() {
  if (presenter_) presenter_->Shutdown();
  // The link first: it makes a write in progress give up, so a poll tick stuck
  // writing to a port that takes nothing cannot hold up joining the timers.
  // Ticks that still come find the port closed and send nothing.
  services_.link.Stop();
  services_.session.Shutdown();
}

}  // namespace varnel
