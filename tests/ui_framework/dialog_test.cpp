// Controls by id, handlers per id and notification, modal runs, window timers.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "tests/support/OperatorInput.h"
#include "tests/support/UiScript.h"
#include "ui/framework/Dialog.h"

using namespace varnel;
using namespace varnel::test;

namespace varnel::test {
DialogTemplate ControlsTemplate();
}

// One control of each kind; the Qt-only checks use it too.
DialogTemplate varnel::test::ControlsTemplate() {
  DialogTemplate t;
  t.id = 900;
  t.caption = "控件";
  t.width = 320;
  t.height = 200;
  t.controls = {
      {10, ControlKind::PushButton, "甲", 10, 10, 50, 14},
      {11, ControlKind::PushButton, "乙", 70, 10, 50, 14},
      {12, ControlKind::DropDownList, "", 10, 30, 60, 30},
      {13, ControlKind::Edit, "", 80, 30, 60, 12, ControlFlags::Border | ControlFlags::Centered},
      {14, ControlKind::EditMultiline, "", 10, 50, 95, 38,
       ControlFlags::Border | ControlFlags::ReadOnly | ControlFlags::HScroll | ControlFlags::VScroll},
      {15, ControlKind::ProgressBar, "", 10, 100, 200, 10, ControlFlags::Border},
      {16, ControlKind::FileBrowseEdit, "", 10, 120, 232, 14},
      {17, ControlKind::Label, "标签", 10, 140, 40, 8},
  };
  return t;
}

namespace {

TEST(DialogControls, ListsKeepInsertionOrderAndSelectOnlyWhenAsked) {
  Dialog dialog(ControlsTemplate());
  DialogControl* list = dialog.Control(12);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->SelectedIndex(), -1);
  EXPECT_EQ(list->InsertItem(0, "115200"), 0);
  EXPECT_EQ(list->SelectedIndex(), -1);  // inserting never selects
  EXPECT_EQ(list->InsertItem(1, "9600"), 1);
  EXPECT_EQ(list->InsertItem(1, "被动查询"), 1);
  EXPECT_EQ(list->InsertItem(-1, "末尾"), 3);
  EXPECT_EQ(list->InsertItem(9, "beyond"), -1);
  ASSERT_EQ(list->ItemCount(), 4);
  EXPECT_EQ(list->ItemText(0), "115200");
  EXPECT_EQ(list->ItemText(1), "被动查询");
  EXPECT_EQ(list->ItemText(2), "9600");
  EXPECT_EQ(list->ItemText(3), "末尾");
  EXPECT_EQ(list->ItemText(4), "");
  EXPECT_EQ(list->ItemText(-1), "");

  EXPECT_TRUE(list->Select(1));
  EXPECT_EQ(list->SelectedIndex(), 1);
  EXPECT_EQ(list->Text(), "被动查询");
  EXPECT_FALSE(list->Select(7));  // out of range clears the selection
  EXPECT_EQ(list->SelectedIndex(), -1);
  EXPECT_TRUE(list->Select(0));
  EXPECT_FALSE(list->Select(-1));
  EXPECT_EQ(list->SelectedIndex(), -1);
  list->ClearItems();
  EXPECT_EQ(list->ItemCount(), 0);
  // List operations do nothing on other kinds of control.
  EXPECT_EQ(dialog.Control(13)->InsertItem(0, "x"), -1);
  EXPECT_EQ(dialog.Control(13)->SelectedIndex(), -1);
}

TEST(DialogControls, EditsTakeUtf8AndLimitOnlyTyping) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* edit = dialog.Control(13);
  EXPECT_TRUE(edit->SetText("0x5A0 序列"));
  EXPECT_EQ(edit->Text(), "0x5A0 序列");

  // A limit stops typing at the limit...
  edit->SetText("");
  EXPECT_TRUE(edit->SetLimitText(5));
  TypeText(*edit, "0x12345");
  EXPECT_EQ(edit->Text(), "0x123");
  // ...but a longer text set by the program stays whole, and the operator can shorten it.
  edit->SetText("0x000005A0");
  EXPECT_EQ(edit->Text(), "0x000005A0");
  TypeText(*edit, "7");
  EXPECT_EQ(edit->Text(), "0x000005A0");
  PressKey(*edit, Key::Backspace);
  EXPECT_EQ(edit->Text(), "0x000005A");
  // Widening the limit lets typing go on.
  edit->SetLimitText(10);
  TypeText(*edit, "1");
  EXPECT_EQ(edit->Text(), "0x000005A1");
  EXPECT_FALSE(dialog.Control(10)->SetLimitText(3));

  // Labels and buttons take their captions as UTF-8 too.
  EXPECT_TRUE(dialog.Control(11)->SetText("停止寻卡"));
  EXPECT_EQ(dialog.Control(11)->Text(), "停止寻卡");
  EXPECT_EQ(dialog.Control(17)->Text(), "标签");
}

TEST(DialogControls, MultiLineEditAppendsAndCountsLines) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* box = dialog.Control(14);
  EXPECT_EQ(box->LineCount(), 1);  // an empty edit has one line
  EXPECT_TRUE(box->AppendText("Firmware: V1.0\r\n"));
  EXPECT_TRUE(box->AppendText("硬件版本: H2\r\n"));
  EXPECT_EQ(box->Text(), "Firmware: V1.0\r\n硬件版本: H2\r\n");
  EXPECT_EQ(box->LineCount(), 3);
  for (int i = 0; i < 40; ++i) box->AppendText("S/N: 0001\r\n");
  EXPECT_EQ(box->LineCount(), 43);
  box->Clear();
  EXPECT_EQ(box->Text(), "");
  EXPECT_EQ(box->LineCount(), 1);
  box->SetText("a\r\nb");
  EXPECT_EQ(box->LineCount(), 2);
  EXPECT_EQ(box->Text(), "a\r\nb");
}

TEST(DialogControls, EnableShowAndProgress) {
  Dialog dialog(ControlsTemplate());
  DialogControl* button = dialog.Control(10);
  button->Enable(false);
  EXPECT_FALSE(button->IsEnabled());
  button->Show(false);
  EXPECT_FALSE(button->IsShown());
  button->Show(true);
  button->Enable(true);
  EXPECT_TRUE(button->IsShown());
  EXPECT_TRUE(button->IsEnabled());

  DialogControl* bar = dialog.Control(15);
  // An empty range (before any total is known) shows an empty bar, not a busy one.
  ASSERT_TRUE(bar->SetRange(0, 0));
  EXPECT_EQ(bar->Position(), 0);
  ASSERT_TRUE(bar->SetRange(0, 3));
  ASSERT_TRUE(bar->SetStep(1));
  EXPECT_EQ(bar->StepIt(), 0);
  EXPECT_EQ(bar->StepIt(), 1);
  EXPECT_EQ(bar->StepIt(), 2);
  EXPECT_EQ(bar->Position(), 3);
  // One step past the end starts over from the beginning.
  bar->StepIt();
  EXPECT_LT(bar->Position(), 3);
  EXPECT_GE(bar->Position(), 0);
  const int before = bar->Position();
  EXPECT_EQ(bar->SetPosition(99), before);
  EXPECT_EQ(bar->Position(), 3);  // clamped into the range
  EXPECT_FALSE(button->SetRange(0, 5));
}

TEST(DialogHandlers, EachButtonReachesItsOwnHandler) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  int first = 0, second = 0;
  dialog.On(10, Notify::Clicked, [&] { ++first; });
  dialog.On(11, Notify::Clicked, [&] { ++second; });
  Click(*dialog.Control(10));
  Click(*dialog.Control(10));
  Click(*dialog.Control(11));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 1);
  // A disabled button reaches nothing; a later handler replaces the earlier one.
  dialog.Control(11)->Enable(false);
  Click(*dialog.Control(11));
  EXPECT_EQ(second, 1);
  int replaced = 0;
  dialog.On(10, Notify::Clicked, [&] { ++replaced; });
  Click(*dialog.Control(10));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(replaced, 1);
}

TEST(DialogHandlers, SelectionChangedComesFromTheOperatorOnly) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* list = dialog.Control(12);
  for (const char* text : {"COM1", "COM3", "COM4"}) list->InsertItem(-1, text);
  std::vector<int> seen;
  dialog.On(12, Notify::SelectionChanged, [&] { seen.push_back(list->SelectedIndex()); });
  list->Select(0);
  list->Select(2);
  list->Select(-1);
  EXPECT_TRUE(seen.empty());
  list->Select(0);
  PressKey(*list, Key::Down);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(list->Text(), "COM3");
  // Picked with the mouse: raised again, for the entry already chosen too.
  PickItem(*list, 2);
  PickItem(*list, 2);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 2}));
}

TEST(DialogHandlers, ListIsRefilledEachTimeItOpens) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* list = dialog.Control(12);
  int openings = 0;
  dialog.On(12, Notify::DropDownOpening, [&] {
    ++openings;
    list->ClearItems();
    list->InsertItem(-1, "/dev/ttyUSB0");
    for (int i = 1; i < openings; ++i) list->InsertItem(-1, "/dev/ttyUSB" + std::to_string(i));
    list->Select(0);
  });
  OpenDropDown(*list);
  EXPECT_EQ(openings, 1);
  EXPECT_EQ(list->ItemCount(), 1);
  OpenDropDown(*list);
  EXPECT_EQ(openings, 2);
  ASSERT_EQ(list->ItemCount(), 2);
  EXPECT_EQ(list->ItemText(1), "/dev/ttyUSB1");
}

TEST(DialogHandlers, EditChangedOnTyping) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  int changes = 0;
  dialog.On(13, Notify::EditChanged, [&] { ++changes; });
  TypeText(*dialog.Control(13), "AB");
  EXPECT_EQ(changes, 2);
}

// A dialog that records what happens to it.
class ProbeDialog : public Dialog {
 public:
  using Dialog::Dialog;
  std::function<void()> init;
  std::function<bool()> allowCancel = [] { return true; };
  int cancels = 0;
  int oks = 0;
  std::map<int, int> ticks;
  std::function<void(int)> tick;

 protected:
  void OnInitDialog() override {
    if (init) init();
  }
  void OnCancel() override {
    ++cancels;
    if (allowCancel()) Dialog::OnCancel();
  }
  void OnOK() override {
    ++oks;
    Dialog::OnOK();
  }
  void OnTimer(int id) override {
    ++ticks[id];
    if (tick) tick(id);
  }
};

DialogTemplate SmallTemplate(bool withDefaultButton = false) {
  DialogTemplate t;
  t.caption = "模态";
  t.width = 200;
  t.height = 60;
  t.controls = {{20, ControlKind::Edit, "", 10, 10, 80, 12, ControlFlags::Border},
                {21, withDefaultButton ? ControlKind::DefaultPushButton : ControlKind::PushButton, "确认",
                 100, 10, 50, 14},
                {kIdCancel, ControlKind::PushButton, "取消", 100, 30, 50, 14}};
  return t;
}

TEST(DialogModal, EscapeAndCloseBoxGoToOnCancel) {
  ProbeDialog dialog(SmallTemplate());
  RunSoon([&] { PressKey(dialog, Key::Escape); });
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_EQ(dialog.cancels, 1);
  EXPECT_FALSE(IsWindowVisible(dialog));

  RunSoon([&] { PressCloseBox(dialog); });
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_EQ(dialog.cancels, 2);
}

TEST(DialogModal, EnterIsOkUnlessADefaultButtonTakesIt) {
  ProbeDialog plain(SmallTemplate());
  RunSoon([&] { PressKey(*plain.Control(20), Key::Enter); });
  EXPECT_EQ(plain.RunModal(), kIdOk);
  EXPECT_EQ(plain.oks, 1);

  ProbeDialog withDefault(SmallTemplate(true));
  int pressed = 0;
  withDefault.On(21, Notify::Clicked, [&] {
    ++pressed;
    withDefault.EndDialog(7);
  });
  RunSoon([&] { PressKey(*withDefault.Control(20), Key::Enter); });
  EXPECT_EQ(withDefault.RunModal(), 7);
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(withDefault.oks, 0);
}

TEST(DialogModal, CancelButtonWithoutHandlerEndsWithCancel) {
  ProbeDialog dialog(SmallTemplate());
  RunSoon([&] { Click(*dialog.Control(kIdCancel)); });
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_EQ(dialog.cancels, 1);
}

TEST(DialogModal, RefusedCancelKeepsTheDialogOpen) {
  ProbeDialog dialog(SmallTemplate());
  bool refuse = true;
  dialog.allowCancel = [&] { return !refuse; };
  bool stillOpen = false;
  RunSoon([&] {
    PressKey(dialog, Key::Escape);
    PressCloseBox(dialog);
    stillOpen = IsWindowVisible(dialog) && dialog.IsRunning();
    refuse = false;
    PressKey(dialog, Key::Escape);
  });
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(dialog.cancels, 3);
}

TEST(DialogModal, EndingInsideInitialisationNeverShowsTheDialog) {
  ProbeDialog dialog(SmallTemplate());
  bool visibleDuringInit = true;
  dialog.init = [&] {
    visibleDuringInit = IsWindowVisible(dialog);
    dialog.EndDialog(kIdCancel);
  };
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_FALSE(visibleDuringInit);
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_FALSE(dialog.IsRunning());

  // A modal run inside another's initialisation (the connect dialog in the
  // main dialog's) works before the outer one is shown.
  ProbeDialog outer(SmallTemplate());
  int innerResult = 0;
  outer.init = [&] {
    ProbeDialog inner(SmallTemplate(), &outer);
    RunSoon([&] { PressKey(inner, Key::Escape); });
    innerResult = inner.RunModal();
    outer.EndDialog(kIdOk);
  };
  EXPECT_EQ(outer.RunModal(), kIdOk);
  EXPECT_EQ(innerResult, kIdCancel);
}

TEST(DialogTimers, FireByIdAndStop) {
  constexpr int kStart = 0x1001, kWatch = 0x1002;
  ProbeDialog dialog(SmallTemplate());
  int watchTicksWhenStartStopped = -1;
  dialog.tick = [&](int id) {
    if (id == kStart && dialog.ticks[kStart] == 3) {
      dialog.KillTimer(kStart);  // stopped from its own tick
      watchTicksWhenStartStopped = dialog.ticks[kWatch];
    }
    // Plenty of ticks of the other timer after the first one stopped.
    if (id == kWatch && watchTicksWhenStartStopped >= 0 &&
        dialog.ticks[kWatch] >= watchTicksWhenStartStopped + 5) {
      dialog.EndDialog(kIdOk);
    }
  };
  dialog.init = [&] {
    dialog.SetTimer(kStart, 5);
    dialog.SetTimer(kWatch, 50);
    dialog.SetTimer(kWatch, 3);  // setting it again restarts it with the new period
  };
  const Ticker deadline(10000, [&] { dialog.EndDialog(kIdCancel); });
  EXPECT_EQ(dialog.RunModal(), kIdOk);
  EXPECT_EQ(dialog.ticks[kStart], 3);
  EXPECT_EQ(dialog.ticks.size(), 2u);
  // The timers end with the modal run.
  EXPECT_FALSE(dialog.HasTimer(kWatch));
  EXPECT_FALSE(dialog.KillTimer(kStart));
}

}  // namespace
