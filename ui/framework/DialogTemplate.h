#pragma once
// Dialog templates as plain data: every control of a dialog is one line with its
// id, kind, caption and rectangle in dialog units, so the layouts stay readable
// next to the numbers they were drawn with.
#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

enum class ControlKind {
  Label,              // static text, left-aligned
  StaticCentered,     // static text, centred
  GroupBox,           // frame with a title around other controls
  PushButton,         // ordinary push button
  DefaultPushButton,  // the button Enter presses
  Edit,               // single-line edit
  EditMultiline,      // multi-line edit
  DropDownList,       // pick-only combo box
  FileBrowseEdit,     // single-line edit with a "..." button opening a file dialog
  ProgressBar,
};

// Style flags of a control; combine with |.
struct ControlFlags {
  enum : std::uint32_t {
    None = 0,
    ReadOnly = 1u << 0,
    Centered = 1u << 1,   // text centred horizontally (edits)
    Hidden = 1u << 2,     // not shown when the dialog opens
    Disabled = 1u << 3,   // greyed out when the dialog opens
    VScroll = 1u << 4,    // vertical scroll bar (multi-line edits, lists)
    HScroll = 1u << 5,    // scrolls sideways instead of wrapping lines
    Border = 1u << 6,     // framed (edits)
    NoTabStop = 1u << 7,  // skipped by Tab
  };
};

// Style flags of a dialog window; combine with |.
struct DialogFlags {
  enum : std::uint32_t {
    None = 0,
    SystemMenu = 1u << 0,   // caption bar with system menu and close box
    MinimizeBox = 1u << 1,
    MaximizeBox = 1u << 2,
    Resizable = 1u << 3,    // sizing frame; without it the size is fixed
    AppWindow = 1u << 4,    // own task-bar button
  };
};

// Control id of labels and group boxes that have no behaviour.
inline constexpr int kStaticId = -1;

struct ControlTemplate {
  int id = kStaticId;
  ControlKind kind = ControlKind::Label;
  std::string caption;  // UTF-8
  int x = 0, y = 0, w = 0, h = 0;  // dialog units
  std::uint32_t flags = ControlFlags::None;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;  // UTF-8
  int width = 0, height = 0;  // client area, dialog units
  std::string fontFamily = "MS Shell Dlg";
  int pointSize = 8;
  std::uint32_t flags = DialogFlags::SystemMenu;
  std::vector<ControlTemplate> controls;  // template order = tab order
};

// Removes every control with this id; answers whether one was there.
// Tests use it to build a broken template.
bool RemoveControl(DialogTemplate& dialog, int controlId);

// Dialog base units: the average character width and the height of the
// dialog's font, in pixels. One horizontal dialog unit is baseX/4 pixels,
// one vertical unit baseY/8.
struct BaseUnits {
  int baseX = 0;
  int baseY = 0;
};

struct PixelRect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const PixelRect&) const = default;
};

// Maps a rectangle in dialog units to pixels. The edges are mapped, not the
// sizes, so controls that touch in dialog units also touch in pixels.
PixelRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int w, int h);

// Base units from the summed advance of "A".."Z""a".."z" (52 characters) and
// the font height, rounded the way the platform's dialog manager rounds them.
BaseUnits BaseUnitsFromMetrics(int advanceOf52Letters, int fontHeight);

}  // namespace varnel
