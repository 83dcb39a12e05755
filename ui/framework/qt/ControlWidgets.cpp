#include "ui/framework/qt/ControlWidgets.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

namespace varnel {

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setInsertPolicy(QComboBox::NoInsert);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void DropDownList::showPopup() {
  if (onOpening_) onOpening_();
  // Entries such as device paths are longer than the box; the opened list is
  // widened so each can be read whole.
  const QFontMetrics fm(view()->font());
  int widest = 0;
  for (int i = 0; i < count(); ++i) widest = std::max(widest, fm.horizontalAdvance(itemText(i)));
  const int extra = 4 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) +
                    style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 16;
  view()->setMinimumWidth(std::max(width(), widest + extra));
  QComboBox::showPopup();
}

FileBrowseEdit::FileBrowseEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  button_->setText(QStringLiteral("..."));
  button_->setFocusPolicy(Qt::TabFocus);
  setFocusProxy(edit_);
  QObject::connect(button_, &QToolButton::clicked, this, [this] { Browse(); });
}

void FileBrowseEdit::resizeEvent(QResizeEvent* event) {
  button_->setFixedWidth(std::max(16, height()));  // a square button at the right end
  QWidget::resizeEvent(event);
}

bool FileBrowseEdit::Browse() {
  QFileDialog dialog(window());
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // translated with the rest of the UI
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const QString current = edit_->text().trimmed();
  if (!current.isEmpty()) {
    const QFileInfo info(QDir::fromNativeSeparators(current));
    if (info.dir().exists()) dialog.setDirectory(info.dir());
    if (info.isFile()) dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  edit_->setText(QDir::toNativeSeparators(files.front()));
  return true;
}

}  // namespace varnel
