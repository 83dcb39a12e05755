// The operator's input on the Win32 backend: the window messages the system
// makes of keys and mouse clicks, delivered to the controls' windows and run
// through the dialog manager as the modal loop runs them.
#include "tests/support/OperatorInput.h"

#include "ui/framework/win32/Win32Native.h"

#include <commctrl.h>

#include <chrono>
#include <vector>

#include "ui/framework/MessageBoxes.h"
#include "ui/framework/win32/DialogTemplateWin32.h"

namespace varnel::test {
namespace {

bool IsDialogWindow(HWND hwnd) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  return lstrcmpW(name, L"#32770") == 0;
}

constexpr wchar_t kCallbackClass[] = L"VarnelTestCallback";

bool IsCallbackWindow(HWND hwnd) {
  wchar_t name[32] = {};
  GetClassNameW(hwnd, name, 32);
  return lstrcmpW(name, kCallbackClass) == 0;
}

// Whether the test script's timer (a Ticker) may run its next step meanwhile.
// An operator's action holds it: the step that acts is still under way, and
// the next one starts only when a loop of the dialogs' own (a modal run,
// perhaps one the action opened) turns again.
enum class ScriptTicks { Run, Hold };

// Handles what is queued for this thread, dialog keys through the dialog
// manager as a modal loop does; for at most `within`, as another thread may
// post faster than this one handles.
void Pump(std::chrono::milliseconds within = std::chrono::milliseconds(50), ScriptTicks ticks = ScriptTicks::Run) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  MSG msg;
  while (std::chrono::steady_clock::now() < deadline && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    // A timer message left out comes again at the timer's next period.
    if (msg.message == WM_TIMER && ticks == ScriptTicks::Hold && IsCallbackWindow(msg.hwnd)) continue;
    HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top && IsDialogWindow(top) && IsDialogMessageW(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// What an operator's action queued, handled before the action returns.
void PumpInput() { Pump(std::chrono::milliseconds(50), ScriptTicks::Hold); }

// The visible dialog-manager window on top: one of ours, a box or a chooser.
HWND TopDialogWindow() {
  for (HWND hwnd : ThreadWindows()) {
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd) && IsDialogWindow(hwnd)) return hwnd;
  }
  return nullptr;
}

HWND KeyTarget(const DialogControl& control) { return control.Native().hwnd; }

bool Operable(HWND hwnd) { return hwnd && IsWindowEnabled(hwnd) && IsWindowVisible(hwnd); }

UINT VirtualKey(Key key) {
  switch (key) {
    case Key::Enter: return VK_RETURN;
    case Key::Escape: return VK_ESCAPE;
    case Key::Tab: return VK_TAB;
    case Key::Backspace: return VK_BACK;
    case Key::Up: return VK_UP;
    case Key::Down: return VK_DOWN;
  }
  return 0;
}

void SendKeyTo(HWND target, Key key) {
  const UINT vk = VirtualKey(key);
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(target, WM_KEYDOWN, vk, 1 | scan);
  PostMessageW(target, WM_KEYUP, vk, 1 | scan | (1LL << 30) | (1LL << 31));
  PumpInput();  // TranslateMessage adds the character the key makes
}

// A message-only window that runs a function when its message or timer comes.
struct CallbackWindow {
  static constexpr UINT kRun = WM_APP + 0x2B0;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* call = reinterpret_cast<std::function<void()>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_TIMER && call) {
      (*call)();
      return 0;
    }
    if (message == kRun && call) {
      const std::function<void()> action = std::move(*call);
      delete call;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      DestroyWindow(hwnd);
      action();
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  static HWND Make(std::function<void()>* call) {
    static const wchar_t* const kClass = kCallbackClass;
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    HWND hwnd = CreateWindowW(kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (hwnd) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(call));
    return hwnd;
  }
};

}  // namespace

void PressKey(Dialog& dialog, Key key) {
  HWND hwnd = dialog.Native().hwnd;
  HWND focus = GetFocus();
  SendKeyTo(focus && GetAncestor(focus, GA_ROOT) == hwnd ? focus : hwnd, key);
}

void PressKey(DialogControl& control, Key key) {
  Focus(control);
  SendKeyTo(KeyTarget(control), key);
}

void TypeText(DialogControl& edit, const std::string& utf8) {
  if (!Operable(KeyTarget(edit))) return;
  Focus(edit);
  for (const wchar_t c : win32::Widen(utf8)) {
    PostMessageW(KeyTarget(edit), WM_CHAR, static_cast<WPARAM>(c), 1);
    PumpInput();
  }
}

void Click(DialogControl& control) {
  HWND hwnd = control.Native().hwnd;
  if (!Operable(hwnd)) return;
  if (control.Kind() == ControlKind::PushButton || control.Kind() == ControlKind::DefaultPushButton) {
    SendMessageW(hwnd, BM_CLICK, 0, 0);  // the button's own press and release
  } else {
    RECT r{};
    GetClientRect(hwnd, &r);
    const LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
  }
  PumpInput();
}

void PickItem(DialogControl& list, int index) {
  HWND combo = list.Native().hwnd;
  if (!Operable(combo) || list.Kind() != ControlKind::DropDownList) return;
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);  // the dialog hears CBN_DROPDOWN and may refill the list
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  GetComboBoxInfo(combo, &info);
  const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  if (info.hwndList && index >= 0 && index < count) {
    // Brought into view first, as the operator scrolls to it, then clicked.
    SendMessageW(info.hwndList, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    RECT entry{};
    SendMessageW(info.hwndList, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&entry));
    const LPARAM at = MAKELPARAM((entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2);
    SendMessageW(info.hwndList, WM_MOUSEMOVE, 0, at);
    SendMessageW(info.hwndList, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(info.hwndList, WM_LBUTTONUP, 0, at);
  }
  if (SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  PumpInput();
}

void OpenDropDown(DialogControl& list) {
  HWND combo = list.Native().hwnd;
  if (!Operable(combo) || list.Kind() != ControlKind::DropDownList) return;
  SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  PumpInput();
}

void PressCloseBox(Dialog& dialog) {
  PostMessageW(dialog.Native().hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  PumpInput();
}

void Focus(DialogControl& control) {
  HWND hwnd = KeyTarget(control);
  const ControlKind kind = control.Kind();
  if (kind == ControlKind::Edit || kind == ControlKind::EditMultiline || kind == ControlKind::FileBrowseEdit) {
    SetFocus(hwnd);  // as a click puts it there: the caret stays, nothing is selected
  } else {
    SendMessageW(GetParent(hwnd), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hwnd), TRUE);
  }
}

bool HasFocus(const DialogControl& control) { return GetFocus() == KeyTarget(control); }

void ShowWindow(Dialog& dialog) {
  ::ShowWindow(dialog.Native().hwnd, SW_SHOW);
  dialog.WindowShown();
}

bool IsWindowVisible(const Dialog& dialog) { return ::IsWindowVisible(dialog.Native().hwnd) != FALSE; }

Dialog* ActiveModalDialog() {
  Dialog* dialog = DialogFromWindow(TopDialogWindow());
  return dialog && dialog->IsRunning() ? dialog : nullptr;
}

void ProcessEvents() {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  Pump(std::chrono::milliseconds(5));
}

void RunSoon(std::function<void()> action) {
  auto* call = new std::function<void()>(std::move(action));
  HWND hwnd = CallbackWindow::Make(call);
  if (!hwnd) {
    delete call;
    return;
  }
  PostMessageW(hwnd, CallbackWindow::kRun, 0, 0);
}

struct Ticker::Native {
  std::function<void()> tick;
  HWND window = nullptr;
};

Ticker::Ticker(int ms, std::function<void()> tick) : native_(std::make_unique<Native>()) {
  native_->tick = std::move(tick);
  native_->window = CallbackWindow::Make(&native_->tick);
  if (native_->window) ::SetTimer(native_->window, 1, static_cast<UINT>(ms), nullptr);
}

Ticker::~Ticker() {
  if (native_->window) {
    SetWindowLongPtrW(native_->window, GWLP_USERDATA, 0);
    DestroyWindow(native_->window);
  }
}

void CancelAllDialogs() {
  for (int guard = 0; guard < 16; ++guard) {
    HWND top = TopDialogWindow();
    Dialog* dialog = DialogFromWindow(top);
    if (top && !dialog) {
      // A box or chooser of the system's own, above the dialogs.
      PostMessageW(top, WM_COMMAND, MAKEWPARAM(GetDlgItem(top, IDNO) ? IDNO : IDCANCEL, BN_CLICKED), 0);
      Pump();
      continue;
    }
    if (!dialog || !dialog->IsRunning()) {
      dialog = nullptr;
      for (HWND hwnd : ThreadWindows()) {
        Dialog* d = DialogFromWindow(hwnd);
        if (d && d->IsRunning()) {
          dialog = d;
          break;
        }
      }
    }
    if (!dialog) return;
    dialog->EndDialog(kIdCancel);
    Pump();
  }
}

void DiscardPendingNotifications() {
  for (HWND hwnd : ThreadWindows()) {
    if (!DialogFromWindow(hwnd)) continue;
    MSG msg;
    while (PeekMessageW(&msg, hwnd, kNotificationMessage, kNotificationMessage, PM_REMOVE)) {
      delete reinterpret_cast<PostedNotification*>(msg.lParam);
    }
  }
}

BoxHost DialogBoxHost() {
  return {ApplicationName(), [mainThread = GetCurrentThreadId()] { return GetCurrentThreadId() == mainThread; },
          [] {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            Pump(std::chrono::milliseconds(10));
          }};
}

}  // namespace varnel::test
