#pragma once
// Pictures of dialogs on the Win32 backend: what the screen shows of the
// window, frame and caption included, as a PNG.
#include <string>

#include "ui/framework/Dialog.h"

namespace varnel::test {

// Brings the window to the front, lets it paint and writes it to path.
// Answers whether the file was written.
bool CaptureWindowToPng(Dialog& dialog, const std::string& path);

}  // namespace varnel::test
