#include "ui/framework/DialogControl.h"

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

#include "ui/framework/ControlWidgets.h"

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

}  // namespace

DialogControl::DialogControl(const ControlTemplate& source, QWidget* widget, PixelRect box)
    : id_(source.id),
      kind_(source.kind),
      widget_(widget),
      box_(box),
      centered_(source.kind == ControlKind::StaticCentered || (source.flags & ControlFlags::Centered)) {
  if (kind_ == ControlKind::ProgressBar) RenderProgress();
  if (kind_ == ControlKind::Label || kind_ == ControlKind::StaticCentered) FitStaticText();
}

// A static text wider or taller than its box (a CJK caption in a box drawn for
// a narrower font) is given room instead of being cut: the box grows to the
// right, or on both sides when the text is centred.
void DialogControl::FitStaticText() {
  auto* label = static_cast<QLabel*>(widget_);
  const QSize need = QFontMetrics(label->font()).size(0, label->text());
  QRect r(box_.x, box_.y, box_.w, box_.h);
  if (need.width() > r.width()) {
    const int grow = need.width() - r.width();
    if (centered_) {
      r.adjust(-grow / 2, 0, grow - grow / 2, 0);
    } else {
      r.setWidth(need.width());
    }
  }
  if (need.height() > r.height()) r.setHeight(need.height());
  label->setGeometry(r);
}

QLineEdit* DialogControl::LineEdit() const {
  if (kind_ == ControlKind::Edit) return static_cast<QLineEdit*>(widget_);
  if (kind_ == ControlKind::FileBrowseEdit) return static_cast<FileBrowseEdit*>(widget_)->Edit();
  return nullptr;
}

QPlainTextEdit* DialogControl::TextEdit() const {
  return kind_ == ControlKind::EditMultiline ? static_cast<QPlainTextEdit*>(widget_) : nullptr;
}

QComboBox* DialogControl::ComboBox() const { return DropDown(); }

DropDownList* DialogControl::DropDown() const {
  return kind_ == ControlKind::DropDownList ? static_cast<DropDownList*>(widget_) : nullptr;
}

FileBrowseEdit* DialogControl::BrowseEdit() const {
  return kind_ == ControlKind::FileBrowseEdit ? static_cast<FileBrowseEdit*>(widget_) : nullptr;
}

QProgressBar* DialogControl::Progress() const {
  return kind_ == ControlKind::ProgressBar ? static_cast<QProgressBar*>(widget_) : nullptr;
}

QAbstractButton* DialogControl::Button() const {
  const bool button = kind_ == ControlKind::PushButton || kind_ == ControlKind::DefaultPushButton;
  return button ? static_cast<QAbstractButton*>(widget_) : nullptr;
}

std::string DialogControl::Text() const {
  switch (kind_) {
    case ControlKind::Label:
    case ControlKind::StaticCentered:
      return ToUtf8(static_cast<QLabel*>(widget_)->text());
    case ControlKind::GroupBox:
      return ToUtf8(static_cast<QGroupBox*>(widget_)->title());
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      return ToUtf8(Button()->text());
    case ControlKind::Edit:
    case ControlKind::FileBrowseEdit:
      return ToUtf8(LineEdit()->text());
    case ControlKind::EditMultiline:
      return FromDocumentText(TextEdit()->toPlainText());
    case ControlKind::DropDownList:
      return ToUtf8(ComboBox()->currentText());
    case ControlKind::ProgressBar:
      return {};
  }
  return {};
}

bool DialogControl::SetText(const std::string& utf8) {
  switch (kind_) {
    case ControlKind::Label:
    case ControlKind::StaticCentered:
      static_cast<QLabel*>(widget_)->setText(FromUtf8(utf8));
      FitStaticText();
      return true;
    case ControlKind::GroupBox:
      static_cast<QGroupBox*>(widget_)->setTitle(FromUtf8(utf8));
      return true;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      Button()->setText(FromUtf8(utf8));
      return true;
    case ControlKind::Edit:
    case ControlKind::FileBrowseEdit: {
      const QString text = FromUtf8(utf8);
      if (limit_ > 0) ApplyLimit(text.size());  // the limit is for typing only
      LineEdit()->setText(text);
      return true;
    }
    case ControlKind::EditMultiline:
      TextEdit()->setPlainText(ToDocumentText(utf8));
      return true;
    case ControlKind::DropDownList:
    case ControlKind::ProgressBar:
      return false;
  }
  return false;
}

// The limit is QLineEdit's maximum length, raised to the length of a longer
// text the program shows, so that text is never cut, and lowered again as the
// operator shortens it.
bool DialogControl::SetLimitText(int maxChars) {
  QLineEdit* edit = LineEdit();
  if (!edit) return false;
  limit_ = std::max(0, maxChars);
  if (!limitFollowsEdits_) {
    limitFollowsEdits_ = true;
    QObject::connect(edit, &QLineEdit::textEdited, edit, [this] { ApplyLimit(LineEdit()->text().size()); });
  }
  ApplyLimit(edit->text().size());
  return true;
}

void DialogControl::ApplyLimit(long long shownLength) {
  constexpr int kUnlimited = 32767;  // QLineEdit's own default
  const int limit = limit_ > 0 ? limit_ : kUnlimited;
  LineEdit()->setMaxLength(static_cast<int>(std::max<long long>(limit, shownLength)));
}

int DialogControl::InsertItem(int index, const std::string& utf8) {
  QComboBox* combo = ComboBox();
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
  QComboBox* combo = ComboBox();
  if (!combo) return false;
  const bool valid = index >= 0 && index < combo->count();
  combo->setCurrentIndex(valid ? index : -1);
  return valid;
}

int DialogControl::SelectedIndex() const {
  const QComboBox* combo = ComboBox();
  return combo ? combo->currentIndex() : -1;
}

int DialogControl::ItemCount() const {
  const QComboBox* combo = ComboBox();
  return combo ? combo->count() : 0;
}

std::string DialogControl::ItemText(int index) const {
  const QComboBox* combo = ComboBox();
  if (!combo || index < 0 || index >= combo->count()) return {};
  return ToUtf8(combo->itemText(index));
}

void DialogControl::ClearItems() {
  if (QComboBox* combo = ComboBox()) combo->clear();
}

bool DialogControl::AppendText(const std::string& utf8) {
  if (QPlainTextEdit* edit = TextEdit()) {
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
  if (QLineEdit* edit = LineEdit()) {
    SetText(Text() + utf8);
    edit->end(false);
    return true;
  }
  return false;
}

int DialogControl::LineCount() const {
  if (const QPlainTextEdit* edit = TextEdit()) return edit->document()->blockCount();
  return LineEdit() ? 1 : 0;
}

void DialogControl::Clear() {
  if (QPlainTextEdit* edit = TextEdit()) {
    edit->clear();
  } else if (QLineEdit* edit = LineEdit()) {
    edit->clear();
  } else {
    ClearItems();
  }
}

void DialogControl::Enable(bool enabled) { widget_->setEnabled(enabled); }

bool DialogControl::IsEnabled() const { return widget_->isEnabled(); }

void DialogControl::Show(bool shown) { widget_->setVisible(shown); }

bool DialogControl::IsShown() const { return !widget_->isHidden(); }

bool DialogControl::SetRange(int min, int max) {
  if (!Progress()) return false;
  rangeMin_ = min;
  rangeMax_ = max;
  position_ = std::clamp(position_, std::min(min, max), std::max(min, max));
  RenderProgress();
  return true;
}

bool DialogControl::SetStep(int step) {
  if (!Progress()) return false;
  step_ = step;
  return true;
}

int DialogControl::StepIt() {
  if (!Progress()) return 0;
  const int previous = position_;
  const long long span = static_cast<long long>(rangeMax_) - rangeMin_;
  long long next = static_cast<long long>(position_) + step_;
  if (span <= 0) {
    next = rangeMin_;
  } else if (next > rangeMax_) {
    next = rangeMin_ + (next - rangeMin_) % span;  // starts over from the beginning
  } else if (next < rangeMin_) {
    next = rangeMax_ - (rangeMin_ - next) % span;
  }
  position_ = static_cast<int>(next);
  RenderProgress();
  return previous;
}

int DialogControl::SetPosition(int position) {
  if (!Progress()) return 0;
  const int previous = position_;
  position_ = std::clamp(position, std::min(rangeMin_, rangeMax_), std::max(rangeMin_, rangeMax_));
  RenderProgress();
  return previous;
}

void DialogControl::RenderProgress() {
  QProgressBar* bar = Progress();
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
