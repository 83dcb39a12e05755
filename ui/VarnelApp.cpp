#include "ui/VarnelApp.h"

#include <cstdio>

#include "platform/StopSignals.h"
#include "ui/VarnelDlg.h"
#include "ui/framework/EventLoop.h"
#include "ui/framework/MessageBoxes.h"

namespace varnel {

CVarnelApp::CVarnelApp(AppServices& services, DialogMessagePresenter* presenter, StopSignals* stopSignals)
    : services_(services), presenter_(presenter), stopSignals_(stopSignals) {}

bool CVarnelApp::InitInstance() {
  std::unique_ptr<WaitableWatch> stopWatch = WatchStopSignals();
  {
    CVarnelDlg dialog(services_);
    dialog.RunModal();
  }
  stopWatch.reset();
  StopLink();
  return false;
}

std::unique_ptr<WaitableWatch> CVarnelApp::WatchStopSignals() {
  if (!stopSignals_ || !stopSignals_->Installed()) return nullptr;
  return std::make_unique<WaitableWatch>(stopSignals_->Waitable(), [this] {
    const int signal = stopSignals_->Take();
    if (signal == 0) return;
    std::fprintf(stderr, "varnel: stop requested (signal %d), closing\n", signal);
    CloseAllDialogs();
  });
}

void CVarnelApp::CloseAllDialogs() {
  if (presenter_) presenter_->Shutdown();
  // Each dialog's modal loop ends when control comes back to it, the innermost first.
  EndAllDialogs();
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
