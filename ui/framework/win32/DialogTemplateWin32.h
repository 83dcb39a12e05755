#pragma once
// A dialog template as the system's dialog manager reads it: an extended
// in-memory template (DLGTEMPLATEEX and one DLGITEMTEMPLATEEX per control)
// built from the layer's plain template, positions and sizes in dialog units
// exactly as the template gives them.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/framework/DialogTemplate.h"

namespace varnel::win32 {

// The "..." button of a file-browse edit is a control of its own; its id is
// this base plus the browse edit's index in the template.
inline constexpr int kBrowseButtonIdBase = 0xE000;
// Width of that button in horizontal dialog units; the edit keeps the rest of
// the template's rectangle.
inline constexpr int kBrowseButtonWidth = 14;

// One control as it goes into the template (the browse edit becomes two).
struct Win32Item {
  int id = 0;             // kStaticId becomes 0xFFFF, as resource compilers write it
  std::wstring windowClass;  // "Button", "Edit", ...: always by name
  std::wstring text;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int x = 0, y = 0, w = 0, h = 0;  // dialog units
  int sourceIndex = 0;    // index of the template control it comes from
};

// UTF-8 <-> UTF-16 at the boundary to the system's wide calls.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

std::uint32_t DialogStyle(std::uint32_t dialogFlags);
std::uint32_t DialogExStyle(std::uint32_t dialogFlags);
// The controls in template order, the browse edits' buttons right after their edits.
std::vector<Win32Item> ItemsFor(const DialogTemplate& dialog);

// The whole template, DWORD-aligned where the dialog manager needs it. The
// buffer's data() is what DialogBoxIndirectParamW takes.
std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog);

}  // namespace varnel::win32
