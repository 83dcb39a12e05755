// The operator's input on the Qt backend: QTest's key and mouse events.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "tests/support/OperatorInput.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtNotifications.h"

namespace varnel::test {
namespace {

Qt::Key QtKey(Key key) {
  switch (key) {
    case Key::Enter: return Qt::Key_Return;
    case Key::Escape: return Qt::Key_Escape;
    case Key::Tab: return Qt::Key_Tab;
    case Key::Backspace: return Qt::Key_Backspace;
    case Key::Up: return Qt::Key_Up;
    case Key::Down: return Qt::Key_Down;
  }
  return Qt::Key_unknown;
}

// The widget that takes the keys of a control: the edit of a file-browse edit.
QWidget* KeyTarget(const DialogControl& control) {
  if (QLineEdit* edit = LineEdit(control)) return edit;
  return Widget(control);
}

}  // namespace

void PressKey(Dialog& dialog, Key key) { QTest::keyClick(Window(dialog), QtKey(key)); }

void PressKey(DialogControl& control, Key key) {
  Focus(control);
  QTest::keyClick(KeyTarget(control), QtKey(key));
}

// ASCII as keys; other characters arrive as an input method commits them.
void TypeText(DialogControl& edit, const std::string& utf8) {
  Focus(edit);
  QWidget* target = KeyTarget(edit);
  for (const QChar c : QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))) {
    if (c.unicode() < 0x80) {
      QTest::keyClicks(target, QString(c));
      continue;
    }
    QInputMethodEvent composed;
    composed.setCommitString(QString(c));
    QCoreApplication::sendEvent(target, &composed);
  }
}

void Click(DialogControl& control) { QTest::mouseClick(Widget(control), Qt::LeftButton); }

void PickItem(DialogControl& list, int index) {
  QComboBox* combo = ComboBox(list);
  if (!combo || !combo->isEnabled()) return;
  combo->showPopup();  // the dialog hears DropDownOpening and may refill the list
  QAbstractItemView* view = combo->view();
  if (index >= 0 && index < combo->count()) {
    const QRect entry = view->visualRect(combo->model()->index(index, combo->modelColumn()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
  }
  if (view->isVisible()) combo->hidePopup();
}

void OpenDropDown(DialogControl& list) {
  QComboBox* combo = ComboBox(list);
  if (!combo || !combo->isEnabled()) return;
  combo->showPopup();
  combo->hidePopup();
}

void PressCloseBox(Dialog& dialog) { Window(dialog)->close(); }

void Focus(DialogControl& control) { KeyTarget(control)->setFocus(Qt::OtherFocusReason); }

bool HasFocus(const DialogControl& control) { return KeyTarget(control)->hasFocus(); }

void ShowWindow(Dialog& dialog) { Window(dialog)->show(); }

bool IsWindowVisible(const Dialog& dialog) { return Window(dialog)->isVisible(); }

Dialog* ActiveModalDialog() { return DialogOf(QApplication::activeModalWidget()); }

void ProcessEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

void RunSoon(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }

struct Ticker::Native {
  QTimer timer;
};

Ticker::Ticker(int ms, std::function<void()> tick) : native_(std::make_unique<Native>()) {
  native_->timer.setInterval(ms);
  QObject::connect(&native_->timer, &QTimer::timeout, std::move(tick));
  native_->timer.start();
}

Ticker::~Ticker() = default;

void CancelAllDialogs() {
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* top = QApplication::activeModalWidget();
    Dialog* dialog = DialogOf(top);
    if (auto* other = qobject_cast<QDialog*>(top); other && !dialog) {
      other->reject();  // a box or chooser of Qt's own, above the dialogs
      QCoreApplication::processEvents();
      continue;
    }
    if (!dialog) {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        Dialog* d = DialogOf(w);
        if (d && d->IsRunning()) dialog = d;
      }
    }
    if (!dialog) return;
    dialog->EndDialog(kIdCancel);
    QCoreApplication::processEvents();
  }
}

void DiscardPendingNotifications() { QCoreApplication::removePostedEvents(nullptr, NotificationEvent::EventType()); }

BoxHost DialogBoxHost() {
  return {ApplicationName(),
          [] {
            const QCoreApplication* app = QCoreApplication::instance();
            return app && QThread::currentThread() == app->thread();
          },
          [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); }};
}

}  // namespace varnel::test
