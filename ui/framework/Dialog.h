#pragma once
// Base of every dialog: built from a template, controls reached by id,
// handlers registered per control id and notification, a modal run that ends
// with OK or Cancel, window timers by id, and notifications posted to the
// dialog by its caption. Main thread only (except what WindowRegistry does).
//
// The window itself belongs to a backend (ui/framework/qt or
// ui/framework/win32): it defines NativeDialog and the members listed under
// "the backend's part" below, and calls back into Dispatch, DeliverNotification,
// FireTimer, Ok, Cancel, WindowShown and CaptionChanged as its window sees
// the operator and the program act on it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Operator.h"
#include "ui/framework/DialogControl.h"
#include "ui/framework/DialogTemplate.h"

namespace varnel {

class WindowRegistry;
struct NativeDialog;  // the backend's window

// Results of a modal run, and the ids of the buttons that end one.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class Notify {
  Clicked,           // a push button was pressed
  SelectionChanged,  // the operator picked a list entry (not raised by Select())
  DropDownOpening,   // a list is about to open; the handler may refill it
  EditChanged,       // an edit's text changed, by the operator or the program
};

class Dialog {
 public:
  using Handler = std::function<void()>;
  // The handler may take the text out of the notification; whatever is left
  // is freed after it returns.
  using MessageHandler = std::function<void(Notification&)>;

  // parent: the window this one is modal over; nullptr = the active window,
  // or none. registry: where the dialog is found by its caption while its
  // window exists (during a modal run, or while shown); none: nobody finds it.
  explicit Dialog(const DialogTemplate& dialogTemplate, Dialog* parent = nullptr,
                  WindowRegistry* registry = nullptr);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

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
  Dialog* Parent() const { return parent_; }

  // ---- Called by the backend's window, on the main thread.
  // A control raised a notification: its handler runs; without one, a click
  // on the OK or Cancel button ends in OnOK / OnCancel.
  void Dispatch(int controlId, Notify notify);
  // A posted notification arrived: its message handler runs, unless the
  // window has closed since (then it is dropped with its text).
  void DeliverNotification(Notification& notification);
  // The window timer with this dialog id fired (ignored once killed).
  void FireTimer(int id);
  // Enter without a button to press, and Escape or the close box.
  void Ok() { OnOK(); }
  void Cancel() { OnCancel(); }
  // The window was shown without a modal run: it can be found from now on.
  void WindowShown() { RegisterWindow(); }
  // The window's caption changed.
  void CaptionChanged();

  NativeDialog& Native() const { return *native_; }

 protected:
  virtual void OnInitDialog() {}
  virtual void OnOK() { EndDialog(kIdOk); }
  virtual void OnCancel() { EndDialog(kIdCancel); }
  virtual void OnTimer(int id) { (void)id; }

 private:
  void RegisterWindow();
  void UnregisterWindow();
  void KillAllTimers();

  // ---- The backend's part, one definition per backend.
  // Makes native_, the window and its controls (in template order, controls_
  // filled, units_ measured from the dialog font); parent_ is set already.
  void CreateNativeWindow(const DialogTemplate& dialogTemplate);
  // Destroys the window and deletes native_; no callback comes after it.
  void DestroyNativeWindow();
  // Shows the window and runs its modal loop until EndNativeModal; answers
  // the result given there, or 0 when the loop ended otherwise.
  int RunNativeModal();
  // Ends the modal loop (or hides the window shown without one).
  void EndNativeModal(int result);
  bool NativeVisible() const;
  // Starts (or restarts) the window timer id; answers whether it runs.
  bool StartNativeTimer(int id, int ms);
  void StopNativeTimer(int id);
  std::string NativeCaption() const;
  void SetNativeCaption(const std::string& utf8);

  Dialog* parent_;                                        // outlives the dialog; may be null
  WindowRegistry* registry_;                              // outlives the dialog; may be null
  NativeDialog* native_ = nullptr;  // owned: made and deleted by the backend's part
  BaseUnits units_;
  std::vector<std::unique_ptr<DialogControl>> controls_;  // template order
  std::map<std::pair<int, Notify>, Handler> handlers_;
  std::map<std::uint32_t, MessageHandler> messageHandlers_;
  std::set<int> timers_;       // dialog timer ids that run
  bool running_ = false;       // inside RunModal, before EndDialog
  bool ended_ = false;         // EndDialog was called in this run
  int endResult_ = 0;
  bool registered_ = false;    // findable by caption
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // false once destroyed (a modal run may outlive us)
};

}  // namespace varnel
