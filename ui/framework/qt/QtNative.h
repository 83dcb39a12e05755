#pragma once
// The Qt side of a dialog and its controls: the window that stands for a
// Dialog and passes what the operator does back to it.
#include <QDialog>
#include <QPointer>
#include <map>

#include "ui/framework/Dialog.h"

namespace varnel {

class QtDialogWindow final : public QDialog {
 public:
  QtDialogWindow(Dialog& owner, QWidget* parent) : QDialog(parent), owner_(owner) {}
  Dialog& Owner() const { return owner_; }
  // Window timers: dialog timer id -> Qt timer id.
  std::map<int, int>& Timers() { return timers_; }

  // Escape, the close box and a Cancel button end in OnCancel; Enter without
  // a default button and an OK button in OnOK, also when Qt routes them
  // through accept()/reject().
  void accept() override { owner_.Ok(); }
  void reject() override { owner_.Cancel(); }

 protected:
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  Dialog& owner_;  // owns this window
  std::map<int, int> timers_;
};

struct NativeDialog {
  QPointer<QtDialogWindow> window;  // deleted with the Dialog (or earlier, with a parent window)
};

struct NativeControl {
  QWidget* widget;  // owned by the dialog's window
  bool limitFollowsEdits = false;  // the edit's typing limit follows the operator's edits
};

// Gives a static text that does not fit its box the room it needs.
void FitStaticText(const DialogControl& control);

}  // namespace varnel
