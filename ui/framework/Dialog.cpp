#include "ui/framework/Dialog.h"

#include <algorithm>

#include "ui/framework/WindowNotifications.h"

namespace varnel {

Dialog::Dialog(const DialogTemplate& dialogTemplate, Dialog* parent, WindowRegistry* registry)
    : parent_(parent), registry_(registry) {
  CreateNativeWindow(dialogTemplate);
}

Dialog::~Dialog() {
  *alive_ = false;
  // Before the window goes with the notifications still queued for it, no
  // thread may find it any more.
  UnregisterWindow();
  KillAllTimers();
  DestroyNativeWindow();
}

void Dialog::Dispatch(int controlId, Notify notify) {
  const auto it = handlers_.find({controlId, notify});
  if (it != handlers_.end()) {
    const Handler handler = it->second;  // the handler may replace itself
    handler();
    return;
  }
  // Buttons with the ids of OK and Cancel end the dialog unless handled.
  if (notify == Notify::Clicked && controlId == kIdOk) OnOK();
  if (notify == Notify::Clicked && controlId == kIdCancel) OnCancel();
}

void Dialog::DeliverNotification(Notification& notification) {
  // A notification that arrives after the window closed is dropped; its text
  // goes with it.
  if (!registered_) return;
  const auto it = messageHandlers_.find(notification.message);
  if (it == messageHandlers_.end()) return;
  const MessageHandler handler = it->second;
  handler(notification);
}

void Dialog::FireTimer(int id) {
  if (timers_.count(id) != 0) OnTimer(id);
}

DialogControl* Dialog::Control(int id) const {
  const auto it = std::find_if(controls_.begin(), controls_.end(),
                               [id](const auto& control) { return control->Id() == id; });
  return it == controls_.end() ? nullptr : it->get();
}

void Dialog::On(int controlId, Notify notify, Handler handler) {
  handlers_[{controlId, notify}] = std::move(handler);
}

void Dialog::OnMessage(std::uint32_t message, MessageHandler handler) {
  messageHandlers_[message] = std::move(handler);
}

int Dialog::RunModal() {
  if (running_) return -1;
  running_ = true;
  ended_ = false;
  endResult_ = 0;
  RegisterWindow();  // the window exists from here, as on the platform
  OnInitDialog();
  if (!ended_) {
    const std::shared_ptr<bool> alive = alive_;
    const int result = RunNativeModal();
    if (!*alive) return result;
    if (!ended_) {
      // The run ended without EndDialog (hidden from outside): treat as Cancel.
      running_ = false;
      UnregisterWindow();
      KillAllTimers();
      endResult_ = result == 0 ? kIdCancel : result;
    }
  }
  return endResult_;
}

void Dialog::EndDialog(int result) {
  if (!running_ && !NativeVisible()) return;
  running_ = false;
  ended_ = true;
  endResult_ = result;
  KillAllTimers();
  UnregisterWindow();
  EndNativeModal(result);
}

void Dialog::SetTimer(int id, int ms) {
  KillTimer(id);
  if (StartNativeTimer(id, std::max(1, ms))) timers_.insert(id);
}

bool Dialog::KillTimer(int id) {
  if (timers_.erase(id) == 0) return false;
  StopNativeTimer(id);
  return true;
}

void Dialog::KillAllTimers() {
  for (const int id : timers_) StopNativeTimer(id);
  timers_.clear();
}

std::string Dialog::Caption() const { return NativeCaption(); }

void Dialog::SetCaption(const std::string& utf8) { SetNativeCaption(utf8); }

void Dialog::CaptionChanged() {
  if (registered_) registry_->Register(this, Caption());
}

void Dialog::RegisterWindow() {
  if (!registry_) return;
  registry_->Register(this, Caption());
  registered_ = true;
}

void Dialog::UnregisterWindow() {
  if (!registered_) return;
  registry_->Unregister(this);
  registered_ = false;
}

}  // namespace varnel
