#include "ui/framework/qt/QtAccess.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "ui/framework/qt/ControlWidgets.h"
#include "ui/framework/qt/QtNative.h"

namespace varnel {

QDialog* Window(const Dialog& dialog) { return dialog.Native().window; }

Dialog* DialogOf(const QWidget* window) {
  const auto* ours = dynamic_cast<const QtDialogWindow*>(window);
  return ours ? &ours->Owner() : nullptr;
}

QWidget* Widget(const DialogControl& control) { return control.Native().widget; }

QLineEdit* LineEdit(const DialogControl& control) {
  if (control.Kind() == ControlKind::Edit) return static_cast<QLineEdit*>(Widget(control));
  if (control.Kind() == ControlKind::FileBrowseEdit) return BrowseEdit(control)->Edit();
  return nullptr;
}

QPlainTextEdit* TextEdit(const DialogControl& control) {
  return control.Kind() == ControlKind::EditMultiline ? static_cast<QPlainTextEdit*>(Widget(control)) : nullptr;
}

QComboBox* ComboBox(const DialogControl& control) {
  return control.Kind() == ControlKind::DropDownList ? static_cast<DropDownList*>(Widget(control)) : nullptr;
}

FileBrowseEdit* BrowseEdit(const DialogControl& control) {
  return control.Kind() == ControlKind::FileBrowseEdit ? static_cast<FileBrowseEdit*>(Widget(control)) : nullptr;
}

QProgressBar* Progress(const DialogControl& control) {
  return control.Kind() == ControlKind::ProgressBar ? static_cast<QProgressBar*>(Widget(control)) : nullptr;
}

QAbstractButton* Button(const DialogControl& control) {
  const bool button = control.Kind() == ControlKind::PushButton || control.Kind() == ControlKind::DefaultPushButton;
  return button ? static_cast<QAbstractButton*>(Widget(control)) : nullptr;
}

}  // namespace varnel
