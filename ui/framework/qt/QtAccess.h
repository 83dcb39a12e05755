#pragma once
// The Qt windows behind dialogs and controls, for the few places that are
// truly about Qt (the Linux program's start, Qt-only tests: fonts,
// translations, screenshots, widget geometry). Everything else goes through
// Dialog and DialogControl.
class QDialog;
class QWidget;
class QLineEdit;
class QPlainTextEdit;
class QComboBox;
class QProgressBar;
class QAbstractButton;

namespace varnel {

class Dialog;
class DialogControl;
class FileBrowseEdit;

QDialog* Window(const Dialog& dialog);
// The dialog a Qt window belongs to, or nullptr when it is not one of ours.
Dialog* DialogOf(const QWidget* window);

// The control's widget; the typed accessors answer nullptr when the control is
// of another kind.
QWidget* Widget(const DialogControl& control);
QLineEdit* LineEdit(const DialogControl& control);         // Edit, FileBrowseEdit
QPlainTextEdit* TextEdit(const DialogControl& control);    // EditMultiline
QComboBox* ComboBox(const DialogControl& control);         // DropDownList
FileBrowseEdit* BrowseEdit(const DialogControl& control);  // FileBrowseEdit
QProgressBar* Progress(const DialogControl& control);      // ProgressBar
QAbstractButton* Button(const DialogControl& control);     // PushButton, DefaultPushButton

}  // namespace varnel
