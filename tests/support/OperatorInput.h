#pragma once
// What an operator does to the dialogs, for tests that run on every dialog
// backend: keys, typing, clicks, picking list entries, the close box, and the
// modal window on top. Defined once per backend (OperatorInputQt.cpp, ...).
// Main thread only. Each action is delivered the way the operator's would be
// (as input events to the native window), so the dialog raises the same
// notifications it raises for a real operator; an action on a disabled
// control does nothing, as for the operator.
#include <functional>
#include <memory>
#include <string>

#include "tests/support/RecordingPresenter.h"
#include "ui/framework/Dialog.h"

namespace varnel::test {

enum class Key { Enter, Escape, Tab, Backspace, Up, Down };

// A key pressed on the dialog, reaching whatever has the focus in it.
void PressKey(Dialog& dialog, Key key);
// The control takes the focus first (as after a click), then gets the key.
void PressKey(DialogControl& control, Key key);
// Types text into an edit at its caret (the control takes the focus first),
// one key per character, each checked against the edit's limit.
void TypeText(DialogControl& edit, const std::string& utf8);
// A left click in the middle of the control: a button is pressed.
void Click(DialogControl& control);
// Opens a drop-down list (raising DropDownOpening) and picks entry index, as
// the operator does with the mouse: raises SelectionChanged, even for the
// entry already selected.
void PickItem(DialogControl& list, int index);
// Opens a drop-down list (raising DropDownOpening) and closes it again
// without a choice.
void OpenDropDown(DialogControl& list);
// The close box of the dialog's caption bar.
void PressCloseBox(Dialog& dialog);

// Gives the control the keyboard focus / asks whether it has it.
void Focus(DialogControl& control);
bool HasFocus(const DialogControl& control);
// Shows the dialog's window without a modal run (it becomes findable by its
// caption) / whether its window is visible now.
void ShowWindow(Dialog& dialog);
bool IsWindowVisible(const Dialog& dialog);

// The modal dialog on top, if it is one of ours (not a message box or a
// file chooser of the toolkit's own).
Dialog* ActiveModalDialog();
template <typename T>
T* ActiveModal() {
  return dynamic_cast<T*>(ActiveModalDialog());
}

// Handles the events and messages waiting for the main thread (briefly).
void ProcessEvents();
// Runs action on the main thread the next time its event loop turns (in
// whatever modal run is under way then).
void RunSoon(std::function<void()> action);
// Calls tick on the main thread every ms milliseconds while an event loop
// runs there (a modal run's, a box's), until destroyed.
class Ticker {
 public:
  Ticker(int ms, std::function<void()> tick);
  ~Ticker();
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  struct Native;  // the backend's
  std::unique_ptr<Native> native_;
};
// Ends every running dialog with Cancel, innermost first, and closes any
// other modal window (a message box, a file chooser) on top of them.
void CancelAllDialogs();
// Drops the notifications still queued for windows, so none reaches the next test.
void DiscardPendingNotifications();

// The backend's application as a message-box recorder sees it: its name, its
// main thread, and its events to process while the main thread waits for a box.
BoxHost DialogBoxHost();

}  // namespace varnel::test
