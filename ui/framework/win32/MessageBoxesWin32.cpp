// Message boxes on Win32: MessageBoxW on the thread that asks (the system's
// boxes run their own loop on any thread), with the standard buttons in the
// system's language, and a shutdown that closes every open box.
#include "ui/framework/MessageBoxes.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

#include "ui/framework/WindowNotifications.h"
#include "ui/framework/win32/DialogTemplateWin32.h"
#include "ui/framework/win32/Win32Native.h"

namespace varnel {
namespace {

MessageAnswer HarmlessAnswer(MessageButtons buttons) {
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

WPARAM HarmlessCommand(MessageButtons buttons) {
  return MAKEWPARAM(buttons == MessageButtons::YesNo ? IDNO : IDOK, BN_CLICKED);
}

bool IsDialogClass(HWND hwnd) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  return lstrcmpW(name, L"#32770") == 0;
}

}  // namespace

struct DialogMessagePresenter::State {
  struct OpenBox {
    DWORD thread = 0;
    MessageButtons buttons = MessageButtons::Ok;
    HWND box = nullptr;   // once the system has made it
    bool closed = false;  // answered by Shutdown
  };

  State(WindowRegistry& r, std::string caption)
      : registry(r), mainWindowCaption(std::move(caption)), mainThread(GetCurrentThreadId()) {}

  // The box's window as the system makes it: closed at once when Shutdown
  // came first, else remembered for Shutdown to close.
  void Made(OpenBox& open, HWND hwnd) {
    std::lock_guard lock(mutex);
    open.box = hwnd;
    if (shutdown && !open.closed) {
      open.closed = true;
      PostMessageW(hwnd, WM_COMMAND, HarmlessCommand(open.buttons), 0);
    }
  }

  WindowRegistry& registry;  // outlives the presenter
  const std::string mainWindowCaption;
  const DWORD mainThread;
  std::mutex mutex;             // guards shutdown, open and every OpenBox in it
  bool shutdown = false;
  std::vector<OpenBox*> open;   // boxes being shown, on any thread
};

namespace {

// The box of the Show running on this thread, for the hook that sees its window made.
struct HookContext {
  std::function<void(HWND)> made;  // called once, with the box's window
  bool seen = false;
  HHOOK hook = nullptr;
};
thread_local HookContext* t_hook = nullptr;  // this thread's Show only

LRESULT CALLBACK WatchBoxCreation(int code, WPARAM wParam, LPARAM lParam) {
  HookContext* context = t_hook;
  if (code == HCBT_CREATEWND && context && !context->seen) {
    HWND hwnd = reinterpret_cast<HWND>(wParam);
    if (IsDialogClass(hwnd)) {
      context->seen = true;
      context->made(hwnd);
    }
  }
  return CallNextHookEx(context ? context->hook : nullptr, code, wParam, lParam);
}

}  // namespace

std::string ApplicationName() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring name(path, n);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return win32::Narrow(name);
}

DialogMessagePresenter::DialogMessagePresenter(WindowRegistry& registry, std::string mainWindowCaption)
    : state_(std::make_unique<State>(registry, std::move(mainWindowCaption))) {}

DialogMessagePresenter::~DialogMessagePresenter() { Shutdown(); }

MessageAnswer DialogMessagePresenter::Show(const std::string& text, const std::string& caption,
                                           MessageButtons buttons, MessageOwner owner) {
  State& state = *state_;
  State::OpenBox open;
  open.thread = GetCurrentThreadId();
  open.buttons = buttons;
  {
    std::lock_guard lock(state.mutex);
    if (state.shutdown) return HarmlessAnswer(buttons);
    state.open.push_back(&open);
  }
  const bool mainThread = open.thread == state.mainThread;
  HWND ownerWindow = nullptr;
  UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
  if (mainThread) {
    if (owner == MessageOwner::MainWindow) {
      if (Dialog* main = state.registry.Find(state.mainWindowCaption)) ownerWindow = main->Native().hwnd;
    } else if (owner == MessageOwner::ActiveDialog) {
      ownerWindow = GetActiveWindow();
    }
  } else {
    // A window of the main thread as owner would tie this thread to it: the
    // box's end re-enables the owner by a message the main thread must
    // answer, and a main thread joining this one would never answer. So no
    // owner, but in front.
    type |= MB_SETFOREGROUND | MB_TOPMOST;
  }
  HookContext context;
  context.made = [&state, &open](HWND hwnd) { state.Made(open, hwnd); };
  HookContext* outer = t_hook;  // a box shown from inside another box's loop
  t_hook = &context;
  context.hook = SetWindowsHookExW(WH_CBT, WatchBoxCreation, nullptr, GetCurrentThreadId());
  const std::wstring shownCaption = win32::Widen(caption.empty() ? ApplicationName() : caption);
  const int result = MessageBoxW(ownerWindow, win32::Widen(text).c_str(), shownCaption.c_str(), type);
  if (context.hook) UnhookWindowsHookEx(context.hook);
  t_hook = outer;

  std::lock_guard lock(state.mutex);
  std::erase(state.open, &open);
  if (open.closed || result == 0) return HarmlessAnswer(buttons);
  if (buttons == MessageButtons::YesNo) return result == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
  return MessageAnswer::Ok;
}

void DialogMessagePresenter::Shutdown() {
  State& state = *state_;
  std::lock_guard lock(state.mutex);
  state.shutdown = true;
  // A box not made yet is closed by its hook as soon as it is.
  for (State::OpenBox* open : state.open) {
    if (open->box && !open->closed) {
      open->closed = true;
      PostMessageW(open->box, WM_COMMAND, HarmlessCommand(open->buttons), 0);
    }
  }
}

std::size_t DialogMessagePresenter::PendingCount() {
  State& state = *state_;
  std::lock_guard lock(state.mutex);
  return static_cast<std::size_t>(std::count_if(state.open.begin(), state.open.end(),
                                                [&](const State::OpenBox* o) { return o->thread != state.mainThread; }));
}

}  // namespace varnel
