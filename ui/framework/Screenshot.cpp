#include "ui/framework/Screenshot.h"

#include <QPixmap>
#include <QWidget>

namespace varnel {

bool GrabToPng(QWidget& widget, const QString& path) {
  const QPixmap image = widget.grab();
  return !image.isNull() && image.save(path, "PNG");
}

}  // namespace varnel
