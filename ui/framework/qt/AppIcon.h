#pragma once
#include <QIcon>

namespace varnel {

// The application's icon, drawn at start-up (a card with radio waves).
// Needs a QGuiApplication.
QIcon ApplicationIcon();

}  // namespace varnel
