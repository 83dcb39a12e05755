#pragma once
// Pictures of dialogs for the layout checks and the screenshot tools.
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace varnel {

// Renders the widget (shown or not) into a PNG file; answers whether it was written.
inline bool GrabToPng(QWidget& widget, const QString& path) {
  const QPixmap image = widget.grab();
  return !image.isNull() && image.save(path, "PNG");
}

}  // namespace varnel
