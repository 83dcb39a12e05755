// The Win32 backend's own parts: the in-memory template as the system's
// dialog manager reads it, and message boxes on any thread with the system's
// own buttons, answered by the operator or by a shutdown.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Wait.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/WindowNotifications.h"
#include "ui/framework/win32/DialogTemplateWin32.h"

using namespace varnel;
using namespace std::chrono_literals;
using varnel::test::WaitUntil;

namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

struct MadeDialog {
  explicit MadeDialog(const DialogTemplate& t) : words(win32::BuildDialogTemplate(t)) {
    hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                      nullptr, PlainDialogProc, 0);
  }
  ~MadeDialog() {
    if (hwnd) DestroyWindow(hwnd);
  }
  std::vector<std::uint32_t> words;
  HWND hwnd = nullptr;
};

std::wstring TextOf(HWND hwnd) {
  wchar_t text[256] = {};
  GetWindowTextW(hwnd, text, 256);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

RECT InDialog(HWND dialog, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// As the dialog manager places a control: the position and the size mapped
// each on its own.
RECT Mapped(HWND dialog, int x, int y, int w, int h) {
  RECT r{x, y, w, h};
  MapDialogRect(dialog, &r);
  return RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

// The first visible dialog-manager window (a message box) of that thread.
HWND BoxOf(DWORD thread) {
  HWND found = nullptr;
  EnumThreadWindows(
      thread,
      [](HWND hwnd, LPARAM out) -> BOOL {
        if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != L"#32770") return TRUE;
        *reinterpret_cast<HWND*>(out) = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST(Win32Template, TheDialogManagerMakesEveryControlWhereTheTemplatePutsIt) {
  using K = ControlKind;
  using F = ControlFlags;
  DialogTemplate t;
  t.caption = "串口选择";
  t.width = 200;
  t.height = 140;
  t.pointSize = 9;
  t.flags = DialogFlags::SystemMenu | DialogFlags::MinimizeBox;
  t.controls = {
      {kStaticId, K::Label, "节点地址", 10, 10, 40, 8},
      {1002, K::Edit, "12", 60, 8, 40, 12, F::Border | F::Centered | F::ReadOnly},
      {1003, K::EditMultiline, "", 10, 30, 100, 30, F::VScroll | F::ReadOnly | F::Border},
      {1004, K::DropDownList, "", 10, 70, 50, 40, F::VScroll},
      {1005, K::FileBrowseEdit, "", 10, 90, 120, 14},
      {1006, K::ProgressBar, "", 10, 110, 120, 10},
      {1007, K::PushButton, "设置", 140, 8, 37, 14, F::Hidden},
      {1008, K::DefaultPushButton, "确定", 140, 30, 37, 14, F::Disabled | F::NoTabStop},
      {kStaticId, K::GroupBox, "设备信息", 5, 2, 180, 130},
  };
  MadeDialog made(t);
  ASSERT_NE(made.hwnd, nullptr) << "error " << GetLastError();
  HWND d = made.hwnd;

  EXPECT_EQ(TextOf(d), L"串口选择");
  const LONG dialogStyle = GetWindowLongW(d, GWL_STYLE);
  EXPECT_TRUE(dialogStyle & WS_SYSMENU);
  EXPECT_TRUE(dialogStyle & WS_MINIMIZEBOX);
  EXPECT_FALSE(dialogStyle & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  // Clipping its children would leave the inside of every group box unpainted (black).
  EXPECT_FALSE(dialogStyle & WS_CLIPCHILDREN);
  RECT client{};
  GetClientRect(d, &client);
  const RECT wanted = Mapped(d, 0, 0, 200, 140);
  EXPECT_EQ(client.right, wanted.right);
  EXPECT_EQ(client.bottom, wanted.bottom);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(d, WM_GETFONT, 0, 0)), sizeof(font), &font);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);

  // Children in template order, the browse button right after its edit.
  std::vector<std::wstring> classes;
  for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) classes.push_back(ClassOf(c));
  const std::vector<std::wstring> expectedClasses = {L"Static", L"Edit", L"Edit", L"ComboBox", L"Edit", L"Button",
                                                     L"msctls_progress32", L"Button", L"Button", L"Button"};
  EXPECT_EQ(classes, expectedClasses);
  HWND label = GetWindow(d, GW_CHILD);
  EXPECT_EQ(TextOf(label), L"节点地址");
  EXPECT_EQ(GetDlgCtrlID(label), 0xFFFF);

  struct Expect {
    int id;
    LONG set;
    LONG clear;
  };
  const Expect styles[] = {
      {1002, WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_READONLY, ES_MULTILINE},
      {1003, WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL, ES_WANTRETURN},
      {1004, WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, 0},  // its scroll bar goes to the list
      {1005, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, ES_READONLY},
      {1006, WS_VISIBLE, WS_TABSTOP},
      {1007, WS_TABSTOP | BS_PUSHBUTTON, WS_VISIBLE | WS_DISABLED},
      {1008, WS_VISIBLE | WS_DISABLED | BS_DEFPUSHBUTTON, WS_TABSTOP},
  };
  for (const Expect& e : styles) {
    HWND c = GetDlgItem(d, e.id);
    ASSERT_NE(c, nullptr) << e.id;
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    EXPECT_EQ(style & e.set, e.set) << e.id;
    EXPECT_EQ(style & e.clear, 0) << e.id;
  }
  EXPECT_EQ(TextOf(GetDlgItem(d, 1007)), L"设置");

  // Rectangles exactly as the dialog manager maps the template's dialog units.
  auto expectBox = [&](HWND c, int x, int y, int w, int h) {
    const RECT got = InDialog(d, c);
    const RECT want = Mapped(d, x, y, w, h);
    EXPECT_EQ(got.left, want.left) << GetDlgCtrlID(c);
    EXPECT_EQ(got.top, want.top) << GetDlgCtrlID(c);
    EXPECT_EQ(got.right, want.right) << GetDlgCtrlID(c);
    if (ClassOf(c) != L"ComboBox") {  // a drop-down's height is its opened list's
      EXPECT_EQ(got.bottom, want.bottom) << GetDlgCtrlID(c);
    }
  };
  expectBox(label, 10, 10, 40, 8);
  expectBox(GetDlgItem(d, 1002), 60, 8, 40, 12);
  expectBox(GetDlgItem(d, 1003), 10, 30, 100, 30);
  expectBox(GetDlgItem(d, 1004), 10, 70, 50, 40);
  expectBox(GetDlgItem(d, 1005), 10, 90, 120 - win32::kBrowseButtonWidth, 14);
  HWND browse = GetDlgItem(d, win32::kBrowseButtonIdBase + 4);
  ASSERT_NE(browse, nullptr);
  EXPECT_EQ(TextOf(browse), L"...");
  expectBox(browse, 10 + 120 - win32::kBrowseButtonWidth, 90, win32::kBrowseButtonWidth, 14);
  expectBox(GetDlgItem(d, 1006), 10, 110, 120, 10);
  expectBox(GetDlgItem(d, 1008), 140, 30, 37, 14);
}

TEST(Win32Template, AnApplicationWindowHasItsOwnTaskBarButtonAndASizingFrameWhenResizable) {
  DialogTemplate t;
  t.caption = "Varnel";
  t.width = 100;
  t.height = 50;
  t.flags = DialogFlags::SystemMenu | DialogFlags::AppWindow | DialogFlags::Resizable;
  MadeDialog made(t);
  ASSERT_NE(made.hwnd, nullptr);
  EXPECT_TRUE(GetWindowLongW(made.hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_TRUE(GetWindowLongW(made.hwnd, GWL_STYLE) & WS_THICKFRAME);
  t.flags = DialogFlags::SystemMenu;
  MadeDialog plain(t);
  EXPECT_FALSE(GetWindowLongW(plain.hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST(Win32MessageBoxes, AWorkerWaitsForItsBoxWhichCarriesTheSystemsChineseButtons) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  std::atomic<DWORD> worker{0};
  auto ask = [&](std::string text, std::string caption, MessageButtons buttons) {
    return std::async(std::launch::async, [&, text, caption, buttons] {
      worker = GetCurrentThreadId();
      return presenter.Show(text, caption, buttons, MessageOwner::MainWindow);
    });
  };

  auto question = ask("确定要恢复出厂设置吗？", "警告", MessageButtons::YesNo);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return worker != 0 && (box = BoxOf(worker)) != nullptr; }, 10s));
  EXPECT_EQ(TextOf(box), L"警告");
  EXPECT_NE(TextOf(GetDlgItem(box, IDYES)).find(L"是"), std::wstring::npos);
  EXPECT_NE(TextOf(GetDlgItem(box, IDNO)).find(L"否"), std::wstring::npos);
  EXPECT_EQ(presenter.PendingCount(), 1u);
  EXPECT_EQ(question.wait_for(0s), std::future_status::timeout);  // it waits for the operator
  PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
  ASSERT_EQ(question.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(question.get(), MessageAnswer::Yes);
  EXPECT_EQ(presenter.PendingCount(), 0u);

  // No caption of its own: the program's name.
  worker = 0;
  auto notice = ask("设置成功", "", MessageButtons::Ok);
  ASSERT_TRUE(WaitUntil([&] { return worker != 0 && (box = BoxOf(worker)) != nullptr; }, 10s));
  EXPECT_EQ(TextOf(box), win32::Widen(ApplicationName()));
  EXPECT_EQ(ApplicationName(), "ui_framework_tests");
  EXPECT_EQ(TextOf(GetDlgItem(box, IDOK)), L"确定");
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  ASSERT_EQ(notice.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(notice.get(), MessageAnswer::Ok);
}

TEST(Win32MessageBoxes, ShutdownClosesTheOpenBoxesAndAnswersLaterOnesWithoutShowingThem) {
  WindowRegistry windows;
  DialogMessagePresenter presenter(windows, "Varnel");
  std::atomic<DWORD> worker{0};
  auto question = std::async(std::launch::async, [&] {
    worker = GetCurrentThreadId();
    return presenter.Show("确定要恢复出厂设置吗？", "警告", MessageButtons::YesNo, MessageOwner::None);
  });
  ASSERT_TRUE(WaitUntil([&] { return worker != 0 && BoxOf(worker) != nullptr; }, 10s));

  presenter.Shutdown();
  ASSERT_EQ(question.wait_for(10s), std::future_status::ready) << "the worker still waits for its box";
  EXPECT_EQ(question.get(), MessageAnswer::No);  // the harmless answer
  EXPECT_EQ(presenter.PendingCount(), 0u);

  auto later = std::async(std::launch::async, [&] {
    return presenter.Show("再问一次", "警告", MessageButtons::YesNo, MessageOwner::None);
  });
  ASSERT_EQ(later.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(later.get(), MessageAnswer::No);
  EXPECT_EQ(presenter.Show("主线程", "提示", MessageButtons::Ok, MessageOwner::None), MessageAnswer::Ok);
}

}  // namespace
