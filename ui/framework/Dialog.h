#pragma once
// Base of every dialog: built from a template, controls reached by id,
// handlers registered per control id and notification, a modal run that ends
// with OK or Cancel, window timers by id, and notifications posted to the
// dialog by its caption. Main thread only (except what WindowRegistry does).
#include <QDialog>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Operator.h"
#include "ui/framework/DialogControl.h"
#include "ui/framework/DialogTemplate.h"

namespace varnel {

class WindowRegistry;

// Results of a modal run, and the ids of the buttons that end one.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class Notify {
  Clicked,           // a push button was pressed
  SelectionChanged,  // the operator picked a list entry (not raised by Select())
  DropDownOpening,   // a list is about to open; the handler may refill it
  EditChanged,       // an edit's text changed, by the operator or the program
};

class Dialog : public QDialog {
 public:
  using Handler = std::function<void()>;
  // The handler may take the text out of the notification; whatever is left
  // is freed after it returns.
  using MessageHandler = std::function<void(Notification&)>;

  // registry: where the dialog is found by its caption while its window
  // exists (during a modal run, or while shown); none: nobody finds it.
  explicit Dialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr,
                  WindowRegistry* registry = nullptr);
  ~Dialog() override;

  // Runs the dialog modally: OnInitDialog first (the dialog may end itself
  // there without ever being shown), then the modal loop until EndDialog.
  // Answers the result given to EndDialog, or -1 when already running.
  int RunModal();
  // Ends the modal run with this result; its timers stop and it can no longer
  // be found by its caption.
  void EndDialog(int result);
  bool IsRunning() const { return running_; }

  // The control with this id, or nullptr when the template has none.
  DialogControl* Control(int id) const;
  const std::vector<std::unique_ptr<DialogControl>>& Controls() const { return controls_; }

  // One handler per control id and notification; a later one replaces it.
  void On(int controlId, Notify notify, Handler handler);
  // One handler per notification message; messages without one are dropped.
  void OnMessage(std::uint32_t message, MessageHandler handler);

  // Window timers: OnTimer(id) every ms milliseconds until KillTimer(id).
  // Setting a running id again restarts it with the new period.
  void SetTimer(int id, int ms);
  bool KillTimer(int id);
  bool HasTimer(int id) const { return timers_.count(id) != 0; }

  std::string Caption() const;
  void SetCaption(const std::string& utf8);
  BaseUnits Units() const { return units_; }

  // Escape, the close box and a Cancel button end here; Enter without a
  // default button and an OK button end in OnOK. Both are routed through
  // QDialog's accept()/reject() as well.
  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }

 protected:
  virtual void OnInitDialog() {}
  virtual void OnOK() { EndDialog(kIdOk); }
  virtual void OnCancel() { EndDialog(kIdCancel); }
  virtual void OnTimer(int id) { (void)id; }

  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls(const DialogTemplate& dialogTemplate);
  QWidget* CreateWidget(const ControlTemplate& source);
  void ConnectNotifications(DialogControl& control);
  void Dispatch(int controlId, Notify notify);
  void RegisterWindow();
  void UnregisterWindow();
  void KillAllTimers();

  BaseUnits units_;
  WindowRegistry* registry_;                              // outlives the dialog; may be null
  std::vector<std::unique_ptr<DialogControl>> controls_;  // template order
  std::map<std::pair<int, Notify>, Handler> handlers_;
  std::map<std::uint32_t, MessageHandler> messageHandlers_;
  std::map<int, int> timers_;  // dialog timer id -> Qt timer id
  bool running_ = false;       // inside RunModal, before EndDialog
  bool ended_ = false;         // EndDialog was called in this run
  int endResult_ = 0;
  bool registered_ = false;  // findable by caption
};

}  // namespace varnel
