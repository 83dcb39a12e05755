#include "ui/framework/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace varnel {
namespace {

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // Card body.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x5f, 0xa8));
  p.drawRoundedRect(QRectF(s * 0.06, s * 0.18, s * 0.62, s * 0.70), s * 0.08, s * 0.08);
  p.setBrush(QColor(0xf2, 0xc1, 0x4e));  // chip
  p.drawRect(QRectF(s * 0.16, s * 0.34, s * 0.18, s * 0.14));
  // Waves to the upper right.
  QPen wave(QColor(0x2a, 0x9d, 0x5c));
  wave.setWidthF(std::max(1.0, s * 0.07));
  wave.setCapStyle(Qt::RoundCap);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    const qreal r = s * (0.14 + 0.12 * i);
    const QRectF arc(s * 0.70 - r, s * 0.30 - r, 2 * r, 2 * r);
    p.drawArc(arc, -30 * 16, 90 * 16);
  }
  return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
  // Drawn anew each time: a cached pixmap would outlive the application object.
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

}  // namespace varnel
