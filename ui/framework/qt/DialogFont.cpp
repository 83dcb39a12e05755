#include "ui/framework/qt/DialogFont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace varnel {
namespace {

bool IsLogicalDialogFont(const QString& family) {
  static const QStringList kLogical = {"MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif",
                                       "Microsoft Sans Serif", "Tahoma", "Segoe UI"};
  return kLogical.contains(family, Qt::CaseInsensitive);
}

QString FirstInstalled(const QStringList& candidates) {
  const QStringList installed = QFontDatabase::families();
  for (const QString& c : candidates) {
    if (installed.contains(c, Qt::CaseInsensitive)) return c;
  }
  return {};
}

}  // namespace

QFont DialogFont(const std::string& family, int pointSize) {
  QString primary = QString::fromStdString(family);
  const bool installed = QFontDatabase::families().contains(primary, Qt::CaseInsensitive);
  if (!installed || IsLogicalDialogFont(primary)) {
    primary = FirstInstalled({"DejaVu Sans", "Liberation Sans", "Noto Sans"});
    if (primary.isEmpty()) primary = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  }
  QStringList families{primary};
  const QString cjk = FirstInstalled({"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC",
                                      "Microsoft YaHei", "SimSun", "Droid Sans Fallback"});
  if (!cjk.isEmpty() && cjk.compare(primary, Qt::CaseInsensitive) != 0) families << cjk;

  QFont font;
  font.setFamilies(families);
  font.setPointSize(pointSize > 0 ? pointSize : 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

BaseUnits MeasureBaseUnits(const QFont& font) {
  const QFontMetrics fm(font);
  const int advance =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnitsFromMetrics(advance, fm.height());
}

}  // namespace varnel
