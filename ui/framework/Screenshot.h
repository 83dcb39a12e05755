#pragma once
#include <QString>

class QWidget;

namespace varnel {

// Renders the widget (shown or not) into a PNG file; answers whether it was written.
bool GrabToPng(QWidget& widget, const QString& path);

}  // namespace varnel
