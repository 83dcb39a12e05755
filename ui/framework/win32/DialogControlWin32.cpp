// DialogControl's Win32 part: the system's own controls, reached through
// their messages, UTF-8 outside and UTF-16 inside.
#include "ui/framework/DialogControl.h"

#include "ui/framework/win32/Win32Native.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/framework/win32/DialogTemplateWin32.h"

namespace varnel {
namespace {

std::wstring WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

bool IsEdit(ControlKind kind) {
  return kind == ControlKind::Edit || kind == ControlKind::EditMultiline || kind == ControlKind::FileBrowseEdit;
}

}  // namespace

DialogControl::~DialogControl() { delete native_; }

std::string DialogControl::Text() const {
  if (Kind() == ControlKind::ProgressBar) return {};
  if (Kind() == ControlKind::DropDownList) return ItemText(SelectedIndex());
  return win32::Narrow(WindowText(native_->hwnd));
}

bool DialogControl::SetText(const std::string& utf8) {
  if (Kind() == ControlKind::DropDownList || Kind() == ControlKind::ProgressBar) return false;
  // The edit's limit is for typing only: WM_SETTEXT is not cut by it.
  SetWindowTextW(native_->hwnd, win32::Widen(utf8).c_str());
  // The caret after the text, where the operator goes on typing.
  if (IsEdit(Kind())) {
    const int end = GetWindowTextLengthW(native_->hwnd);
    SendMessageW(native_->hwnd, EM_SETSEL, static_cast<WPARAM>(end), end);
  }
  return true;
}

bool DialogControl::SetLimitText(int maxChars) {
  if (Kind() != ControlKind::Edit && Kind() != ControlKind::FileBrowseEdit) return false;
  limit_ = std::max(0, maxChars);
  SendMessageW(native_->hwnd, EM_LIMITTEXT, static_cast<WPARAM>(limit_), 0);  // 0: the system's maximum
  return true;
}

int DialogControl::InsertItem(int index, const std::string& utf8) {
  if (Kind() != ControlKind::DropDownList) return -1;
  const int count = ItemCount();
  if (index < -1 || index > count) return -1;
  const LRESULT at = SendMessageW(native_->hwnd, CB_INSERTSTRING, static_cast<WPARAM>(index),
                                  reinterpret_cast<LPARAM>(win32::Widen(utf8).c_str()));
  return at < 0 ? -1 : static_cast<int>(at);
}

bool DialogControl::Select(int index) {
  if (Kind() != ControlKind::DropDownList) return false;
  const bool valid = index >= 0 && index < ItemCount();
  SendMessageW(native_->hwnd, CB_SETCURSEL, static_cast<WPARAM>(valid ? index : -1), 0);
  return valid;
}

int DialogControl::SelectedIndex() const {
  if (Kind() != ControlKind::DropDownList) return -1;
  const LRESULT selected = SendMessageW(native_->hwnd, CB_GETCURSEL, 0, 0);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

int DialogControl::ItemCount() const {
  if (Kind() != ControlKind::DropDownList) return 0;
  return static_cast<int>(std::max<LRESULT>(0, SendMessageW(native_->hwnd, CB_GETCOUNT, 0, 0)));
}

std::string DialogControl::ItemText(int index) const {
  if (Kind() != ControlKind::DropDownList || index < 0 || index >= ItemCount()) return {};
  const LRESULT length = SendMessageW(native_->hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessageW(native_->hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
  return win32::Narrow(text);
}

void DialogControl::ClearItems() {
  if (Kind() == ControlKind::DropDownList) SendMessageW(native_->hwnd, CB_RESETCONTENT, 0, 0);
}

bool DialogControl::AppendText(const std::string& utf8) {
  if (!IsEdit(Kind())) return false;
  HWND edit = native_->hwnd;
  const LRESULT end = GetWindowTextLengthW(edit);
  // EM_REPLACESEL honours the typing limit; the program's text must not be cut.
  SendMessageW(edit, EM_LIMITTEXT, 0, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win32::Widen(utf8).c_str()));
  SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(limit_ > 0 ? limit_ : 0), 0);
  if (Kind() == ControlKind::EditMultiline) {
    // The newest line in view, read from its first character.
    const LRESULT lines = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
    const std::wstring text = WindowText(edit);
    const LRESULT last = (!text.empty() && text.back() == L'\n' && lines > 1) ? lines - 2 : lines - 1;
    const LRESULT first = SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    RECT r{};
    SendMessageW(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
    TEXTMETRICW tm{};
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    const LRESULT visible = std::max<LRESULT>(1, (r.bottom - r.top) / std::max<LONG>(1, tm.tmHeight));
    if (last >= first + visible || last < first) SendMessageW(edit, EM_LINESCROLL, 0, last - visible + 1 - first);
    SendMessageW(edit, WM_HSCROLL, SB_LEFT, 0);
  }
  return true;
}

int DialogControl::LineCount() const {
  if (Kind() == ControlKind::EditMultiline) {
    // Lines as the text holds them, not as a narrow box wraps them.
    const std::wstring text = WindowText(native_->hwnd);
    return 1 + static_cast<int>(std::count(text.begin(), text.end(), L'\n'));
  }
  return IsEdit(Kind()) ? 1 : 0;
}

void DialogControl::Clear() {
  if (IsEdit(Kind())) {
    SetWindowTextW(native_->hwnd, L"");
  } else {
    ClearItems();
  }
}

void DialogControl::Enable(bool enabled) {
  EnableWindow(native_->hwnd, enabled ? TRUE : FALSE);
  if (native_->browseButton) EnableWindow(native_->browseButton, enabled ? TRUE : FALSE);
}

bool DialogControl::IsEnabled() const { return IsWindowEnabled(native_->hwnd) != FALSE; }

void DialogControl::Show(bool shown) {
  ShowWindow(native_->hwnd, shown ? SW_SHOWNA : SW_HIDE);
  if (native_->browseButton) ShowWindow(native_->browseButton, shown ? SW_SHOWNA : SW_HIDE);
}

bool DialogControl::IsShown() const { return (GetWindowLongW(native_->hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

void DialogControl::RenderProgress() {
  if (!IsProgress() || !native_->hwnd) return;
  // An empty range shows an empty bar.
  if (rangeMax_ > rangeMin_) {
    SendMessageW(native_->hwnd, PBM_SETRANGE32, static_cast<WPARAM>(rangeMin_), rangeMax_);
    SendMessageW(native_->hwnd, PBM_SETPOS, static_cast<WPARAM>(position_), 0);
  } else {
    SendMessageW(native_->hwnd, PBM_SETRANGE32, 0, 1);
    SendMessageW(native_->hwnd, PBM_SETPOS, 0, 0);
  }
}

}  // namespace varnel
