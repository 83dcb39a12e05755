// Dialog on Qt: a QDialog with the template's widgets, its timers and keys.
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>

#include "ui/framework/Dialog.h"
#include "ui/framework/qt/AppIcon.h"
#include "ui/framework/qt/ControlWidgets.h"
#include "ui/framework/qt/DialogFont.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtNative.h"
#include "ui/framework/qt/QtNotifications.h"

namespace varnel {
namespace {

Qt::WindowFlags WindowFlagsFor(std::uint32_t flags) {
  Qt::WindowFlags f = (flags & DialogFlags::AppWindow) ? Qt::Window : Qt::Dialog;
  f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (flags & DialogFlags::SystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (flags & DialogFlags::MinimizeBox) f |= Qt::WindowMinimizeButtonHint;
  if (flags & DialogFlags::MaximizeBox) f |= Qt::WindowMaximizeButtonHint;
  return f;
}

// Read-only edits look like the platform's: greyed background, black text.
void ShowAsReadOnly(QWidget* edit) {
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  edit->setPalette(palette);
}

void ApplyLineEditFlags(QLineEdit* edit, std::uint32_t flags) {
  edit->setReadOnly(flags & ControlFlags::ReadOnly);
  if (flags & ControlFlags::ReadOnly) ShowAsReadOnly(edit);
  edit->setAlignment((flags & ControlFlags::Centered) ? Qt::AlignHCenter | Qt::AlignVCenter
                                                      : Qt::AlignLeft | Qt::AlignVCenter);
  edit->setFrame(flags & ControlFlags::Border);
}

QWidget* CreateWidget(const ControlTemplate& source, QWidget* parent) {
  const QString caption = QString::fromStdString(source.caption);
  switch (source.kind) {
    case ControlKind::Label:
    case ControlKind::StaticCentered: {
      auto* label = new QLabel(caption, parent);
      label->setTextFormat(Qt::PlainText);
      const bool centred =
          source.kind == ControlKind::StaticCentered || (source.flags & ControlFlags::Centered);
      label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
      label->setAttribute(Qt::WA_TransparentForMouseEvents);
      return label;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(caption, parent);
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(caption, parent);
      // Not auto-default: QDialog would otherwise make the first such button
      // the default one, and Enter would press it instead of giving OK.
      // keyPressEvent presses a focused button itself.
      button->setAutoDefault(false);
      button->setDefault(source.kind == ControlKind::DefaultPushButton);
      return button;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(caption, parent);
      ApplyLineEditFlags(edit, source.flags);
      return edit;
    }
    case ControlKind::EditMultiline: {
      auto* edit = new QPlainTextEdit(parent);
      edit->setPlainText(caption);
      edit->setReadOnly(source.flags & ControlFlags::ReadOnly);
      if (source.flags & ControlFlags::ReadOnly) ShowAsReadOnly(edit);
      edit->setTabChangesFocus(true);
      // The platform's edits keep a one-pixel margin; Qt's default of four costs a line in small boxes.
      edit->document()->setDocumentMargin(1);
      const bool sideways = source.flags & ControlFlags::HScroll;
      edit->setLineWrapMode(sideways ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
      edit->setHorizontalScrollBarPolicy(sideways ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
      edit->setVerticalScrollBarPolicy((source.flags & ControlFlags::VScroll) ? Qt::ScrollBarAsNeeded
                                                                              : Qt::ScrollBarAlwaysOff);
      if (!(source.flags & ControlFlags::Border)) edit->setFrameShape(QFrame::NoFrame);
      return edit;
    }
    case ControlKind::DropDownList:
      return new DropDownList(parent);
    case ControlKind::FileBrowseEdit: {
      auto* browse = new FileBrowseEdit(parent);
      browse->Edit()->setText(caption);
      ApplyLineEditFlags(browse->Edit(), source.flags | ControlFlags::Border);
      return browse;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      return bar;
    }
  }
  return new QWidget(parent);
}

void ConnectNotifications(Dialog& dialog, QtDialogWindow* window, const DialogControl& control) {
  const int id = control.Id();
  Dialog* d = &dialog;
  if (QAbstractButton* button = Button(control)) {
    QObject::connect(button, &QAbstractButton::clicked, window, [d, id] { d->Dispatch(id, Notify::Clicked); });
  }
  if (control.Kind() == ControlKind::DropDownList) {
    auto* list = static_cast<DropDownList*>(Widget(control));
    // activated: the operator's choice only, never a programmatic selection.
    QObject::connect(list, &QComboBox::activated, window, [d, id] { d->Dispatch(id, Notify::SelectionChanged); });
    list->SetOpeningHandler([d, id] { d->Dispatch(id, Notify::DropDownOpening); });
  }
  if (QLineEdit* edit = LineEdit(control)) {
    QObject::connect(edit, &QLineEdit::textChanged, window, [d, id] { d->Dispatch(id, Notify::EditChanged); });
  }
  if (QPlainTextEdit* edit = TextEdit(control)) {
    QObject::connect(edit, &QPlainTextEdit::textChanged, window, [d, id] { d->Dispatch(id, Notify::EditChanged); });
  }
}

}  // namespace

void Dialog::CreateNativeWindow(const DialogTemplate& dialogTemplate) {
  // Without a parent the window stands on its own (application-modal while it runs).
  QWidget* parent = parent_ ? static_cast<QWidget*>(Window(*parent_)) : nullptr;
  native_ = new NativeDialog;
  auto* window = new QtDialogWindow(*this, parent);
  native_->window = window;
  window->setWindowFlags(WindowFlagsFor(dialogTemplate.flags));
  window->setWindowTitle(QString::fromStdString(dialogTemplate.caption));
  window->setWindowIcon(ApplicationIcon());
  window->setFont(DialogFont(dialogTemplate.fontFamily, dialogTemplate.pointSize));
  units_ = MeasureBaseUnits(window->font());
  const PixelRect client = DialogUnitsToPixels(units_, 0, 0, dialogTemplate.width, dialogTemplate.height);
  if (dialogTemplate.flags & DialogFlags::Resizable) {
    window->resize(client.w, client.h);
  } else {
    window->setFixedSize(client.w, client.h);
  }
  window->setSizeGripEnabled(false);

  for (const ControlTemplate& source : dialogTemplate.controls) {
    const PixelRect box = DialogUnitsToPixels(units_, source.x, source.y, source.w, source.h);
    QWidget* widget = CreateWidget(source, window);
    if (source.kind == ControlKind::DropDownList) {
      // The template's height is the extent of the opened list; the closed
      // box is as tall as the font makes it.
      widget->setGeometry(box.x, box.y, box.w, widget->sizeHint().height());
    } else {
      widget->setGeometry(box.x, box.y, box.w, box.h);
    }
    if (source.flags & ControlFlags::Hidden) widget->setHidden(true);
    if (source.flags & ControlFlags::Disabled) widget->setEnabled(false);
    if ((source.flags & ControlFlags::NoTabStop) && widget->focusPolicy() != Qt::NoFocus) {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    controls_.push_back(std::make_unique<DialogControl>(source, new NativeControl{widget}, box));
    const DialogControl& control = *controls_.back();
    if (control.Kind() == ControlKind::Label || control.Kind() == ControlKind::StaticCentered) FitStaticText(control);
    if (source.id != kStaticId) ConnectNotifications(*this, window, control);
  }
  // Stacking as on the platform: the first control of the template on top,
  // and group boxes beneath everything they frame. Widgets were created in
  // template order, which is already the focus (Tab) order.
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) Widget(**it)->raise();
  for (const auto& control : controls_) {
    if (control->Kind() == ControlKind::GroupBox) Widget(*control)->lower();
  }
}

void Dialog::DestroyNativeWindow() {
  // Notifications still queued for the window go with it.
  delete native_->window.data();
  delete native_;
  native_ = nullptr;
}

int Dialog::RunNativeModal() { return native_->window->exec(); }

void Dialog::EndNativeModal(int result) {
  if (native_->window) native_->window->done(result);
}

bool Dialog::NativeVisible() const { return native_->window && native_->window->isVisible(); }

bool Dialog::StartNativeTimer(int id, int ms) {
  QtDialogWindow* window = native_->window;
  if (!window) return false;
  const int qtId = window->startTimer(ms, Qt::PreciseTimer);
  if (qtId == 0) return false;
  window->Timers()[id] = qtId;
  return true;
}

void Dialog::StopNativeTimer(int id) {
  QtDialogWindow* window = native_->window;
  if (!window) return;
  const auto it = window->Timers().find(id);
  if (it == window->Timers().end()) return;
  window->killTimer(it->second);
  window->Timers().erase(it);
}

std::string Dialog::NativeCaption() const {
  return native_->window ? native_->window->windowTitle().toStdString() : std::string();
}

void Dialog::SetNativeCaption(const std::string& utf8) {
  if (native_->window) native_->window->setWindowTitle(QString::fromStdString(utf8));
}

bool QtDialogWindow::event(QEvent* event) {
  if (event->type() == NotificationEvent::EventType()) {
    owner_.DeliverNotification(static_cast<NotificationEvent*>(event)->Payload());
    return true;
  }
  return QDialog::event(event);
}

void QtDialogWindow::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qtId] : timers_) {
    if (qtId == event->timerId()) {
      const int timerId = id;  // OnTimer may change timers_
      owner_.FireTimer(timerId);
      return;
    }
  }
  QDialog::timerEvent(event);
}

void QtDialogWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    // Enter presses the focused button, else the default button, and
    // without one it is the OK command.
    if (auto* focused = qobject_cast<QAbstractButton*>(focusWidget())) {
      if (focused->isEnabled() && focused->isVisible()) {
        focused->click();
        return;
      }
    }
    for (QPushButton* button : findChildren<QPushButton*>()) {
      if (button->isDefault() && button->isVisible()) {
        if (button->isEnabled()) button->click();
        return;
      }
    }
    owner_.Ok();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape -> reject() -> OnCancel()
}

void QtDialogWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange) owner_.CaptionChanged();
  QDialog::changeEvent(event);
}

void QtDialogWindow::showEvent(QShowEvent* event) {
  owner_.WindowShown();  // also when shown without a modal run
  QDialog::showEvent(event);
}

}  // namespace varnel
