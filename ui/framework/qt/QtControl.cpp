// DialogControl on Qt widgets.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

#include "ui/framework/DialogControl.h"
#include "ui/framework/qt/ControlWidgets.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtNative.h"

namespace varnel {
namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string ToUtf8(const QString& s) { return s.toStdString(); }

// The platform's edits hold "\r\n" line ends; the text document holds "\n".
QString ToDocumentText(const std::string& utf8) {
  QString text = FromUtf8(utf8);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

std::string FromDocumentText(QString text) {
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return ToUtf8(text);
}

// The limit is QLineEdit's maximum length, raised to the length of a longer
// text the program shows, so that text is never cut, and lowered again as the
// operator shortens it.
void ApplyLimit(const DialogControl& control, long long shownLength) {
  constexpr int kUnlimited = 32767;  // QLineEdit's own default
  const int limit = control.LimitText() > 0 ? control.LimitText() : kUnlimited;
  LineEdit(control)->setMaxLength(static_cast<int>(std::max<long long>(limit, shownLength)));
}

}  // namespace

// A static text wider or taller than its box (a CJK caption in a box drawn for
// a narrower font) is given room instead of being cut: the box grows to the
// right, or on both sides when the text is centred.
void FitStaticText(const DialogControl& control) {
  auto* label = static_cast<QLabel*>(Widget(control));
  const QSize need = QFontMetrics(label->font()).size(0, label->text());
  const PixelRect box = control.Box();
  QRect r(box.x, box.y, box.w, box.h);
  if (need.width() > r.width()) {
    const int grow = need.width() - r.width();
    if (control.Centered()) {
      r.adjust(-grow / 2, 0, grow - grow / 2, 0);
    } else {
      r.setWidth(need.width());
    }
  }
  if (need.height() > r.height()) r.setHeight(need.height());
  label->setGeometry(r);
}

DialogControl::~DialogControl() { delete native_; }  // the widget goes with the window

std::string DialogControl::Text() const {
  switch (kind_) {
    case ControlKind::Label:
    case ControlKind::StaticCentered:
      return ToUtf8(static_cast<QLabel*>(native_->widget)->text());
    case ControlKind::GroupBox:
      return ToUtf8(static_cast<QGroupBox*>(native_->widget)->title());
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      return ToUtf8(Button(*this)->text());
    case ControlKind::Edit:
    case ControlKind::FileBrowseEdit:
      return ToUtf8(LineEdit(*this)->text());
    case ControlKind::EditMultiline:
      return FromDocumentText(TextEdit(*this)->toPlainText());
    case ControlKind::DropDownList:
      return ToUtf8(ComboBox(*this)->currentText());
    case ControlKind::ProgressBar:
      return {};
  }
  return {};
}

bool DialogControl::SetText(const std::string& utf8) {
  switch (kind_) {
    case ControlKind::Label:
    case ControlKind::StaticCentered:
      static_cast<QLabel*>(native_->widget)->setText(FromUtf8(utf8));
      FitStaticText(*this);
      return true;
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(native_->widget)->setTitle(FromUtf8(utf8));
      return true;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      Button(*this)->setText(FromUtf8(utf8));
      return true;
    case ControlKind::Edit:
    case ControlKind::FileBrowseEdit: {
      const QString text = FromUtf8(utf8);
      if (limit_ > 0) ApplyLimit(*this, text.size());  // the limit is for typing only
      LineEdit(*this)->setText(text);
      return true;
    }
    case ControlKind::EditMultiline:
      TextEdit(*this)->setPlainText(ToDocumentText(utf8));
      return true;
    case ControlKind::DropDownList:
    case ControlKind::ProgressBar:
      return false;
  }
  return false;
}

bool DialogControl::SetLimitText(int maxChars) {
  QLineEdit* edit = LineEdit(*this);
  if (!edit) return false;
  limit_ = std::max(0, maxChars);
  if (!native_->limitFollowsEdits) {
    native_->limitFollowsEdits = true;
    QObject::connect(edit, &QLineEdit::textEdited, edit, [this, edit] { ApplyLimit(*this, edit->text().size()); });
  }
  ApplyLimit(*this, edit->text().size());
  return true;
}

int DialogControl::InsertItem(int index, const std::string& utf8) {
  QComboBox* combo = ComboBox(*this);
  if (!combo) return -1;
  if (index < -1 || index > combo->count()) return -1;
  if (index == -1) index = combo->count();
  const int selected = combo->currentIndex();
  combo->insertItem(index, FromUtf8(utf8));
  // Qt selects the first entry of an empty list by itself; the dialogs expect
  // a list to stay without selection until they select.
  if (selected == -1 && combo->currentIndex() != -1) combo->setCurrentIndex(-1);
  return index;
}

bool DialogControl::Select(int index) {
  QComboBox* combo = ComboBox(*this);
  if (!combo) return false;
  const bool valid = index >= 0 && index < combo->count();
  combo->setCurrentIndex(valid ? index : -1);
  return valid;
}

int DialogControl::SelectedIndex() const {
  const QComboBox* combo = ComboBox(*this);
  return combo ? combo->currentIndex() : -1;
}

int DialogControl::ItemCount() const {
  const QComboBox* combo = ComboBox(*this);
  return combo ? combo->count() : 0;
}

std::string DialogControl::ItemText(int index) const {
  const QComboBox* combo = ComboBox(*this);
  if (!combo || index < 0 || index >= combo->count()) return {};
  return ToUtf8(combo->itemText(index));
}

void DialogControl::ClearItems() {
  if (QComboBox* combo = ComboBox(*this)) combo->clear();
}

bool DialogControl::AppendText(const std::string& utf8) {
  if (QPlainTextEdit* edit = TextEdit(*this)) {
    QTextCursor cursor = edit->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ToDocumentText(utf8));
    // Bring the newest text into view. The empty line after a final line end
    // needs no row of its own: in a box a few lines high it would push the
    // first of the lines just appended out of sight.
    if (cursor.atBlockStart() && cursor.block().previous().isValid())
      cursor.movePosition(QTextCursor::PreviousCharacter);
    // The view follows the cursor sideways too: left at the end of the line it
    // would show the line's tail. At the start of the line, the line is read
    // from its first character.
    cursor.movePosition(QTextCursor::StartOfBlock);
    edit->setTextCursor(cursor);
    edit->ensureCursorVisible();
    edit->horizontalScrollBar()->setValue(edit->horizontalScrollBar()->minimum());
    return true;
  }
  if (QLineEdit* edit = LineEdit(*this)) {
    SetText(Text() + utf8);
    edit->end(false);
    return true;
  }
  return false;
}

int DialogControl::LineCount() const {
  if (const QPlainTextEdit* edit = TextEdit(*this)) return edit->document()->blockCount();
  return LineEdit(*this) ? 1 : 0;
}

void DialogControl::Clear() {
  if (QPlainTextEdit* edit = TextEdit(*this)) {
    edit->clear();
  } else if (QLineEdit* edit = LineEdit(*this)) {
    edit->clear();
  } else {
    ClearItems();
  }
}

void DialogControl::Enable(bool enabled) { native_->widget->setEnabled(enabled); }

bool DialogControl::IsEnabled() const { return native_->widget->isEnabled(); }

void DialogControl::Show(bool shown) { native_->widget->setVisible(shown); }

bool DialogControl::IsShown() const { return !native_->widget->isHidden(); }

void DialogControl::RenderProgress() {
  QProgressBar* bar = Progress(*this);
  if (!bar) return;
  // An empty range would turn Qt's bar into a busy indicator; show it empty.
  if (rangeMax_ > rangeMin_) {
    bar->setRange(rangeMin_, rangeMax_);
    bar->setValue(position_);
  } else {
    bar->setRange(0, 1);
    bar->setValue(0);
  }
}

}  // namespace varnel
