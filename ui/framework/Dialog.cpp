#include "ui/framework/Dialog.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>
#include <algorithm>

#include "ui/framework/AppIcon.h"
#include "ui/framework/ControlWidgets.h"
#include "ui/framework/DialogFont.h"
#include "ui/framework/WindowNotifications.h"

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

}  // namespace

Dialog::Dialog(const DialogTemplate& dialogTemplate, QWidget* parent, WindowRegistry* registry)
    : QDialog(parent),
      registry_(registry) {
  setWindowFlags(WindowFlagsFor(dialogTemplate.flags));
  setWindowTitle(QString::fromStdString(dialogTemplate.caption));
  setWindowIcon(ApplicationIcon());
  setFont(DialogFont(dialogTemplate.fontFamily, dialogTemplate.pointSize));
  units_ = MeasureBaseUnits(font());
  const PixelRect client =
      DialogUnitsToPixels(units_, 0, 0, dialogTemplate.width, dialogTemplate.height);
  if (dialogTemplate.flags & DialogFlags::Resizable) {
    resize(client.w, client.h);
  } else {
    setFixedSize(client.w, client.h);
  }
  setSizeGripEnabled(false);
  CreateControls(dialogTemplate);
}

Dialog::~Dialog() {
  // Before QObject's destructor throws away the events still queued for us,
  // no thread may find us any more.
  UnregisterWindow();
  KillAllTimers();
}

void Dialog::CreateControls(const DialogTemplate& dialogTemplate) {
  for (const ControlTemplate& source : dialogTemplate.controls) {
    const PixelRect box = DialogUnitsToPixels(units_, source.x, source.y, source.w, source.h);
    QWidget* widget = CreateWidget(source);
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
    controls_.push_back(std::make_unique<DialogControl>(source, widget, box));
    if (source.id != kStaticId) ConnectNotifications(*controls_.back());
  }
  // Stacking as on the platform: the first control of the template on top,
  // and group boxes beneath everything they frame. Widgets were created in
  // template order, which is already the focus (Tab) order.
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) (*it)->Widget()->raise();
  for (const auto& control : controls_) {
    if (control->Kind() == ControlKind::GroupBox) control->Widget()->lower();
  }
}

QWidget* Dialog::CreateWidget(const ControlTemplate& source) {
  const QString caption = QString::fromStdString(source.caption);
  switch (source.kind) {
    case ControlKind::Label:
    case ControlKind::StaticCentered: {
      auto* label = new QLabel(caption, this);
      label->setTextFormat(Qt::PlainText);
      const bool centred =
          source.kind == ControlKind::StaticCentered || (source.flags & ControlFlags::Centered);
      label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
      label->setAttribute(Qt::WA_TransparentForMouseEvents);
      return label;
    }
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(caption, this);
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(caption, this);
      // Not auto-default: QDialog would otherwise make the first such button
      // the default one, and Enter would press it instead of giving OK.
      // keyPressEvent presses a focused button itself.
      button->setAutoDefault(false);
      button->setDefault(source.kind == ControlKind::DefaultPushButton);
      return button;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(caption, this);
      ApplyLineEditFlags(edit, source.flags);
      return edit;
    }
    case ControlKind::EditMultiline: {
      auto* edit = new QPlainTextEdit(this);
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
      return new DropDownList(this);
    case ControlKind::FileBrowseEdit: {
      auto* browse = new FileBrowseEdit(this);
      browse->Edit()->setText(caption);
      ApplyLineEditFlags(browse->Edit(), source.flags | ControlFlags::Border);
      return browse;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setTextVisible(false);
      return bar;
    }
  }
  return new QWidget(this);
}

void Dialog::ConnectNotifications(DialogControl& control) {
  const int id = control.Id();
  if (QAbstractButton* button = control.Button()) {
    connect(button, &QAbstractButton::clicked, this, [this, id] { Dispatch(id, Notify::Clicked); });
  }
  if (DropDownList* list = control.DropDown()) {
    // activated: the operator's choice only, never a programmatic selection.
    connect(list, &QComboBox::activated, this, [this, id] { Dispatch(id, Notify::SelectionChanged); });
    list->SetOpeningHandler([this, id] { Dispatch(id, Notify::DropDownOpening); });
  }
  if (QLineEdit* edit = control.LineEdit()) {
    connect(edit, &QLineEdit::textChanged, this, [this, id] { Dispatch(id, Notify::EditChanged); });
  }
  if (QPlainTextEdit* edit = control.TextEdit()) {
    connect(edit, &QPlainTextEdit::textChanged, this, [this, id] { Dispatch(id, Notify::EditChanged); });
  }
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
    QPointer<Dialog> alive(this);
    const int result = exec();
    if (!alive) return result;
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
  if (!running_ && !isVisible()) return;
  running_ = false;
  ended_ = true;
  endResult_ = result;
  KillAllTimers();
  UnregisterWindow();
  QDialog::done(result);
}

void Dialog::SetTimer(int id, int ms) {
  KillTimer(id);
  const int qtId = startTimer(std::max(1, ms), Qt::PreciseTimer);
  if (qtId != 0) timers_[id] = qtId;
}

bool Dialog::KillTimer(int id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  killTimer(it->second);
  timers_.erase(it);
  return true;
}

void Dialog::KillAllTimers() {
  for (const auto& [id, qtId] : timers_) killTimer(qtId);
  timers_.clear();
}

void Dialog::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qtId] : timers_) {
    if (qtId == event->timerId()) {
      const int timerId = id;  // OnTimer may change timers_
      OnTimer(timerId);
      return;
    }
  }
  QDialog::timerEvent(event);
}

std::string Dialog::Caption() const { return windowTitle().toStdString(); }

void Dialog::SetCaption(const std::string& utf8) { setWindowTitle(QString::fromStdString(utf8)); }

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

bool Dialog::event(QEvent* event) {
  if (event->type() == NotificationEvent::EventType()) {
    // A notification that arrives after the window closed is dropped; its
    // text goes with the event.
    if (!registered_) return true;
    Notification& notification = static_cast<NotificationEvent*>(event)->Payload();
    const auto it = messageHandlers_.find(notification.message);
    if (it != messageHandlers_.end()) {
      const MessageHandler handler = it->second;
      handler(notification);
    }
    return true;
  }
  return QDialog::event(event);
}

void Dialog::keyPressEvent(QKeyEvent* event) {
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
    OnOK();
    return;
  }
  QDialog::keyPressEvent(event);  // Escape -> reject() -> OnCancel()
}

void Dialog::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange && registered_) registry_->Register(this, Caption());
  QDialog::changeEvent(event);
}

void Dialog::showEvent(QShowEvent* event) {
  RegisterWindow();  // also when shown without a modal run
  QDialog::showEvent(event);
}

}  // namespace varnel
