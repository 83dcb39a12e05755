#include "ui/VarnelApp.h"

#include "ui/VarnelDlg.h"
#include "ui/framework/QtMessagePresenter.h"

namespace varnel {

CVarnelApp::CVarnelApp(AppServices& services, QtMessagePresenter* presenter)
    : services_(services), presenter_(presenter) {}

bool CVarnelApp::InitInstance() {
  {
    CVarnelDlg dialog(services_);
    dialog.RunModal();
  }
  StopLink();
  return false;
}

void CVarnelApp::StopLink() {
  if (presenter_) presenter_->Shutdown();
  services_.session.Shutdown();
  services_.link.Stop();
}

}  // namespace varnel
