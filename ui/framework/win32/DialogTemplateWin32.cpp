#include "ui/framework/win32/DialogTemplateWin32.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

namespace varnel::win32 {
namespace {

// Writes the template as 16-bit words; items start on 32-bit boundaries.
class TemplateWriter {
 public:
  void Word(std::uint16_t w) { words_.push_back(w); }
  void Dword(std::uint32_t d) {
    Word(static_cast<std::uint16_t>(d & 0xFFFF));
    Word(static_cast<std::uint16_t>(d >> 16));
  }
  void Short(int v) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(v, -32768, 32767)))); }
  void Text(const std::wstring& s) {
    for (wchar_t c : s) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void AlignDword() {
    if (words_.size() % 2) Word(0);
  }
  std::size_t Size() const { return words_.size(); }
  void Patch(std::size_t at, std::uint16_t w) { words_[at] = w; }
  std::vector<std::uint32_t> Take() {
    AlignDword();
    std::vector<std::uint32_t> out(words_.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<std::uint32_t>(words_[2 * i]) | (static_cast<std::uint32_t>(words_[2 * i + 1]) << 16);
    }
    return out;  // little-endian, as the dialog manager reads it
  }

 private:
  std::vector<std::uint16_t> words_;
};

std::uint32_t TabStop(std::uint32_t flags) { return (flags & ControlFlags::NoTabStop) ? 0 : WS_TABSTOP; }

std::uint32_t EditStyle(std::uint32_t flags) {
  std::uint32_t style = TabStop(flags);
  if (flags & ControlFlags::Border) style |= WS_BORDER;
  if (flags & ControlFlags::ReadOnly) style |= ES_READONLY;
  if (flags & ControlFlags::Centered) style |= ES_CENTER;
  if (flags & ControlFlags::HScroll) style |= ES_AUTOHSCROLL;
  return style;
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

std::uint32_t DialogStyle(std::uint32_t flags) {
  // DS_SHELLFONT: "MS Shell Dlg" resolves to the system's current dialog face.
  // No WS_CLIPCHILDREN: group boxes do not paint their inside, the dialog's background must.
  std::uint32_t style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SHELLFONT | DS_CENTER;
  if (flags & DialogFlags::SystemMenu) style |= WS_SYSMENU;
  if (flags & DialogFlags::MinimizeBox) style |= WS_MINIMIZEBOX;
  if (flags & DialogFlags::MaximizeBox) style |= WS_MAXIMIZEBOX;
  if (flags & DialogFlags::Resizable) style |= WS_THICKFRAME;
  return style;
}

std::uint32_t DialogExStyle(std::uint32_t flags) {
  return (flags & DialogFlags::AppWindow) ? WS_EX_APPWINDOW : 0;
}

std::vector<Win32Item> ItemsFor(const DialogTemplate& dialog) {
  std::vector<Win32Item> items;
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    const ControlTemplate& c = dialog.controls[i];
    Win32Item item;
    item.id = c.id == kStaticId ? 0xFFFF : c.id;
    item.text = Widen(c.caption);
    item.x = c.x;
    item.y = c.y;
    item.w = c.w;
    item.h = c.h;
    item.sourceIndex = static_cast<int>(i);
    std::uint32_t style = WS_CHILD;
    switch (c.kind) {
      case ControlKind::Label:
      case ControlKind::StaticCentered:
        item.windowClass = L"Static";
        style |= SS_NOPREFIX |
                 ((c.kind == ControlKind::StaticCentered || (c.flags & ControlFlags::Centered)) ? SS_CENTER : SS_LEFT);
        break;
      case ControlKind::GroupBox:
        item.windowClass = L"Button";
        style |= BS_GROUPBOX;
        break;
      case ControlKind::PushButton:
      case ControlKind::DefaultPushButton:
        item.windowClass = L"Button";
        style |= TabStop(c.flags) | (c.kind == ControlKind::DefaultPushButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
      case ControlKind::Edit:
        item.windowClass = L"Edit";
        style |= EditStyle(c.flags);
        break;
      case ControlKind::EditMultiline:
        item.windowClass = L"Edit";
        style |= EditStyle(c.flags) | ES_MULTILINE | ES_AUTOVSCROLL;
        if (c.flags & ControlFlags::VScroll) style |= WS_VSCROLL;
        if (!(c.flags & ControlFlags::ReadOnly)) style |= ES_WANTRETURN;
        break;
      case ControlKind::DropDownList:
        item.windowClass = L"ComboBox";
        style |= TabStop(c.flags) | CBS_DROPDOWNLIST | CBS_HASSTRINGS;
        if (c.flags & ControlFlags::VScroll) style |= WS_VSCROLL;
        break;
      case ControlKind::FileBrowseEdit:
        item.windowClass = L"Edit";
        style |= EditStyle(c.flags | ControlFlags::Border) | ES_AUTOHSCROLL;
        item.w = std::max(0, c.w - kBrowseButtonWidth);
        break;
      case ControlKind::ProgressBar:
        item.windowClass = PROGRESS_CLASSW;
        break;
    }
    if (!(c.flags & ControlFlags::Hidden)) style |= WS_VISIBLE;
    if (c.flags & ControlFlags::Disabled) style |= WS_DISABLED;
    item.style = style;
    items.push_back(item);

    if (c.kind == ControlKind::FileBrowseEdit) {
      Win32Item button;
      button.id = kBrowseButtonIdBase + static_cast<int>(i);
      button.windowClass = L"Button";
      button.text = L"...";
      button.style = (style & (WS_VISIBLE | WS_DISABLED)) | WS_CHILD | TabStop(c.flags) | BS_PUSHBUTTON;
      button.x = item.x + item.w;
      button.y = c.y;
      button.w = c.w - item.w;
      button.h = c.h;
      button.sourceIndex = static_cast<int>(i);
      items.push_back(button);
    }
  }
  return items;
}

std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog) {
  const std::vector<Win32Item> items = ItemsFor(dialog);
  TemplateWriter out;
  out.Word(1);       // dlgVer
  out.Word(0xFFFF);  // signature: extended template
  out.Dword(0);      // helpID
  out.Dword(DialogExStyle(dialog.flags));
  out.Dword(DialogStyle(dialog.flags));
  out.Word(static_cast<std::uint16_t>(items.size()));
  out.Short(0);
  out.Short(0);
  out.Short(dialog.width);
  out.Short(dialog.height);
  out.Word(0);  // no menu
  out.Word(0);  // the dialog manager's own window class
  out.Text(Widen(dialog.caption));
  out.Word(static_cast<std::uint16_t>(dialog.pointSize > 0 ? dialog.pointSize : 8));
  out.Word(FW_NORMAL);
  out.Word(static_cast<std::uint16_t>(DEFAULT_CHARSET << 8));  // italic 0, then the charset byte
  out.Text(Widen(dialog.fontFamily.empty() ? std::string("MS Shell Dlg") : dialog.fontFamily));
  for (const Win32Item& item : items) {
    out.AlignDword();
    out.Dword(0);  // helpID
    out.Dword(item.exStyle);
    out.Dword(item.style);
    out.Short(item.x);
    out.Short(item.y);
    out.Short(item.w);
    out.Short(item.h);
    out.Dword(static_cast<std::uint32_t>(item.id));
    out.Text(item.windowClass);
    out.Text(item.text);
    out.Word(0);  // no creation data
  }
  return out.Take();
}

}  // namespace varnel::win32
