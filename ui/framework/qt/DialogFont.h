#pragma once
// The dialog font and the base units measured from it.
#include <QFont>
#include <string>

#include "ui/framework/DialogTemplate.h"

namespace varnel {

// The font a template names, made real on this machine. The platform's
// logical dialog font ("MS Shell Dlg" and its kin) does not exist outside
// Windows; there it becomes a common sans-serif face. A CJK face is always
// appended as fallback so Chinese captions render instead of boxes.
QFont DialogFont(const std::string& family, int pointSize);

// Base units of the font as it is actually rendered here, so dialog-unit
// boxes grow with the font and the texts drawn in them.
BaseUnits MeasureBaseUnits(const QFont& font);

}  // namespace varnel
