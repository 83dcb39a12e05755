// Dialog's Win32 part: a window of the system's dialog manager made from the
// in-memory template, run modally by a loop of our own (the controls exist
// from construction, as the dialogs set them up before the run), with the
// system's own controls and their notifications.
#include "ui/framework/win32/Win32Native.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>

#include "ui/framework/DialogControl.h"
#include "ui/framework/win32/DialogTemplateWin32.h"

namespace varnel {
namespace {

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

void FreeQueuedNotifications(HWND hwnd) {
  MSG msg;
  while (PeekMessageW(&msg, hwnd, kNotificationMessage, kNotificationMessage, PM_REMOVE)) {
    delete reinterpret_cast<PostedNotification*>(msg.lParam);
  }
}

DialogControl* ControlOf(Dialog& dialog, int id) { return id == 0xFFFF ? nullptr : dialog.Control(id); }

// A static text wider or taller than its box (a CJK caption in a box drawn
// for a narrower font) is given room instead of being cut.
void FitStaticText(HWND dialog, const DialogControl& control) {
  HWND label = control.Native().hwnd;
  const int length = GetWindowTextLengthW(label);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(label, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
  SIZE need{};
  GetTextExtentPoint32W(dc, text.c_str(), length, &need);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  RECT placed{};
  GetWindowRect(label, &placed);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
  PixelRect r{placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top};
  if (need.cx <= r.w && need.cy <= r.h) return;
  if (need.cx > r.w) {
    const int grow = need.cx - r.w;
    if (control.Centered()) r.x -= grow / 2;
    r.w = need.cx;
  }
  r.h = std::max<int>(r.h, need.cy);
  SetWindowPos(label, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The operator chose a file with the browse edit's "..." button.
void BrowseForFile(HWND dialog, DialogControl& browse) {
  wchar_t path[MAX_PATH * 4] = {};
  GetWindowTextW(browse.Native().hwnd, path, static_cast<int>(std::size(path)));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = L"*.*\0*.*\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = static_cast<DWORD>(std::size(path));
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
  if (GetOpenFileNameW(&ofn)) SetWindowTextW(browse.Native().hwnd, path);  // EN_CHANGE follows
}

// The opened list is as wide as its longest entry needs.
void WidenDropDown(HWND combo) {
  const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  HDC dc = GetDC(combo);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(combo, WM_GETFONT, 0, 0)));
  int widest = 0;
  for (int i = 0; i < count; ++i) {
    const int length = static_cast<int>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0));
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), std::max(length, 0), &size);
    widest = std::max<int>(widest, size.cx);
  }
  SelectObject(dc, old);
  ReleaseDC(combo, dc);
  RECT box{};
  GetWindowRect(combo, &box);
  const int needed = widest + GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE) + 4;
  SendMessageW(combo, CB_SETDROPPEDWIDTH, std::max<int>(needed, box.right - box.left), 0);
}

void OnCommand(Dialog& dialog, HWND hwnd, int id, int code) {
  if (id >= win32::kBrowseButtonIdBase && code == BN_CLICKED) {
    const int index = id - win32::kBrowseButtonIdBase;
    if (index < static_cast<int>(dialog.Controls().size())) BrowseForFile(hwnd, *dialog.Controls()[index]);
    return;
  }
  DialogControl* control = ControlOf(dialog, id);
  // Enter and Escape come as the commands of OK and Cancel, with or without
  // buttons of those ids.
  if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED &&
      (!control || (control->Kind() != ControlKind::PushButton && control->Kind() != ControlKind::DefaultPushButton))) {
    if (id == IDOK) {
      dialog.Ok();
    } else {
      dialog.Cancel();
    }
    return;
  }
  if (!control) return;
  switch (control->Kind()) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
      if (code == BN_CLICKED) dialog.Dispatch(id, Notify::Clicked);
      break;
    case ControlKind::DropDownList:
      if (code == CBN_SELCHANGE) dialog.Dispatch(id, Notify::SelectionChanged);
      if (code == CBN_DROPDOWN) {
        dialog.Dispatch(id, Notify::DropDownOpening);
        WidenDropDown(control->Native().hwnd);
      }
      break;
    case ControlKind::Edit:
    case ControlKind::EditMultiline:
    case ControlKind::FileBrowseEdit:
      if (code == EN_CHANGE) dialog.Dispatch(id, Notify::EditChanged);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    return FALSE;  // the focus is set when the dialog is shown
  }
  if (message == kNotificationMessage) {
    std::unique_ptr<PostedNotification> posted(reinterpret_cast<PostedNotification*>(lParam));
    if (Dialog* dialog = DialogFromWindow(hwnd)) dialog->DeliverNotification(posted->notification);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    FreeQueuedNotifications(hwnd);
    return FALSE;
  }
  // Before WM_INITDIALOG the window is not ours yet (its controls announce
  // their first texts while it is made).
  Dialog* dialog = DialogFromWindow(hwnd);
  if (!dialog) return FALSE;
  switch (message) {
    case WM_COMMAND:
      OnCommand(*dialog, hwnd, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      dialog->Cancel();
      return TRUE;
    case WM_TIMER:
      dialog->FireTimer(static_cast<int>(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

Dialog* DialogFromWindow(HWND hwnd) {
  if (!hwnd || reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hwnd, DWLP_DLGPROC)) != DialogProc) return nullptr;
  // Only windows of this thread's dialogs: another thread's would be touched off its thread.
  if (GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) return nullptr;
  return reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
}

void Dialog::CreateNativeWindow(const DialogTemplate& dialogTemplate) {
  native_ = new NativeDialog;
  static const bool commonControls = [] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)commonControls;
  native_->templateWords = win32::BuildDialogTemplate(dialogTemplate);
  HWND owner = parent_ ? parent_->Native().hwnd : nullptr;
  HWND hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                         reinterpret_cast<LPCDLGTEMPLATEW>(native_->templateWords.data()), owner,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
  if (!hwnd) {
    std::fprintf(stderr, "varnel: the window \"%s\" cannot be made (error %lu)\n", dialogTemplate.caption.c_str(),
                 GetLastError());
    return;
  }
  native_->hwnd = hwnd;
  if (HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1))) {
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  RECT unit{0, 0, 4, 8};
  MapDialogRect(hwnd, &unit);
  units_ = BaseUnits{unit.right, unit.bottom};

  // The children come in template order (the browse buttons right after their
  // edits); statics share one id, so they are matched by order, not by id.
  const std::vector<win32::Win32Item> items = win32::ItemsFor(dialogTemplate);
  HWND child = GetWindow(hwnd, GW_CHILD);
  std::vector<HWND> groupBoxes;
  for (std::size_t i = 0; i < items.size() && child; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
    const win32::Win32Item& item = items[i];
    const ControlTemplate& source = dialogTemplate.controls[static_cast<std::size_t>(item.sourceIndex)];
    if (item.id >= win32::kBrowseButtonIdBase && source.kind == ControlKind::FileBrowseEdit) {
      controls_.back()->Native().browseButton = child;
      continue;
    }
    auto* native = new NativeControl;
    native->hwnd = child;
    const PixelRect box = DialogUnitsToPixels(units_, source.x, source.y, source.w, source.h);
    controls_.push_back(std::make_unique<DialogControl>(source, native, box));
    if (source.kind == ControlKind::GroupBox) groupBoxes.push_back(child);
    if (source.kind == ControlKind::Label || source.kind == ControlKind::StaticCentered) {
      FitStaticText(hwnd, *controls_.back());
    }
  }
  // Group boxes beneath everything they frame. They take no focus, so the
  // Tab order of the other controls stays the template's.
  for (HWND box : groupBoxes) SetWindowPos(box, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Dialog::DestroyNativeWindow() {
  if (!native_) return;
  native_->loop->ended = true;  // a loop still running for this window ends
  if (native_->disabledOwner) EnableWindow(native_->disabledOwner, TRUE);
  if (native_->hwnd) {
    SetWindowLongPtrW(native_->hwnd, DWLP_USER, 0);  // no callback after this
    DestroyWindow(native_->hwnd);                     // frees the notifications still queued
  }
  delete native_;
  native_ = nullptr;
}

int Dialog::RunNativeModal() {
  NativeDialog& native = *native_;
  if (!native.hwnd) return 0;
  const std::shared_ptr<ModalLoop> loop = native.loop;
  loop->ended = false;
  loop->result = 0;
  HWND hwnd = native.hwnd;
  // Modal over its parent, else over the window active now, as the system's
  // own modal dialogs are.
  HWND owner = parent_ ? parent_->Native().hwnd : GetActiveWindow();
  if (owner == hwnd || (owner && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId())) owner = nullptr;
  SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  if (owner && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    native.disabledOwner = owner;
  }
  native.inModalLoop = true;
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  // The first control that takes Tab gets the focus, as the dialog manager gives it.
  if (HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE)) SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
  bool quit = false;
  WPARAM quitCode = 0;
  while (!loop->ended) {
    MSG msg;
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {  // the application is quitting: end the run and pass it on
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    if (got < 0) break;
    if (!IsWindow(hwnd) || !IsDialogMessageW(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  const int result = loop->ended ? loop->result : 0;
  if (loop.use_count() > 1 && native_) {  // the dialog is still there
    native.inModalLoop = false;
    if (native.disabledOwner) {
      // Enabled before the window hides, so the activation goes back to it.
      EnableWindow(native.disabledOwner, TRUE);
      native.disabledOwner = nullptr;
    }
    ShowWindow(hwnd, SW_HIDE);
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return result;
}

void Dialog::EndNativeModal(int result) {
  NativeDialog& native = *native_;
  native.loop->ended = true;
  native.loop->result = result;
  if (!native.hwnd) return;
  if (native.inModalLoop) {
    PostMessageW(native.hwnd, WM_NULL, 0, 0);  // wakes the loop
  } else {
    ShowWindow(native.hwnd, SW_HIDE);
  }
}

bool Dialog::NativeVisible() const { return native_->hwnd && IsWindowVisible(native_->hwnd); }

bool Dialog::StartNativeTimer(int id, int ms) {
  return native_->hwnd && ::SetTimer(native_->hwnd, static_cast<UINT_PTR>(id), static_cast<UINT>(ms), nullptr) != 0;
}

void Dialog::StopNativeTimer(int id) {
  if (native_->hwnd) ::KillTimer(native_->hwnd, static_cast<UINT_PTR>(id));
}

std::string Dialog::NativeCaption() const {
  if (!native_->hwnd) return {};
  const int length = GetWindowTextLengthW(native_->hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(native_->hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return win32::Narrow(text);
}

void Dialog::SetNativeCaption(const std::string& utf8) {
  if (!native_->hwnd) return;
  SetWindowTextW(native_->hwnd, win32::Widen(utf8).c_str());
  CaptionChanged();
}

}  // namespace varnel
