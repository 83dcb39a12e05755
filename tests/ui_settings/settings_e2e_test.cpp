// The settings buttons of the main window against the simulated sensor: each
// press changes the sensor and the operator reads the sensor's answer; refusals,
// failed writes and answered-No confirmations leave the sensor as it was.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/ui_settings/SettingsTestSupport.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::BoxCount;
using test::ConnectAndSettle;
using test::LastBox;
using test::SimDialog;
using test::Tell;
using test::UiScript;
using namespace main_ids;

const std::string kSuccess = "设置成功";
const std::string kInvalid = "无效指令";
const std::string kInfo = "提示";
const std::string kWarning = "警告";

// Every status box so far carried the caption "提示" and came from the reader thread.
void ExpectStatusBoxesFromTheReader(const SimDialog& f) {
  for (const RecordedBox& box : f.h.boxes.Boxes()) {
    if (box.text != kSuccess && box.text != kInvalid) continue;
    EXPECT_EQ(box.caption, kInfo) << box.text;
    EXPECT_EQ(box.owner, MessageOwner::MainWindow);
    EXPECT_FALSE(box.onMainThread) << box.text;
  }
}

TEST(SettingsEndToEnd, EachSetButtonChangesTheSensorAndReportsSuccess) {
  SimDialog f;
  ASSERT_TRUE(f.sim.Started());
  UiScript script;
  ConnectAndSettle(script, f)
      // The window shows the replies once it has handled their notifications.
      .Settle("settings shown", [&] { return f.Text(EditSerialNodeAddr) == "0x01" && f.Text(EditCanNodeAddr) == "0x100"; }, 5s)
      .Do([&] {
        EXPECT_EQ(f.Text(EditSerialNodeAddr), "0x01");
        EXPECT_EQ(f.Text(EditCanNodeAddr), "0x100");
        f.C(EditSerialNodeAddr)->SetText("0X2a");
        f.Click(SetSerialNodeAddr);
      })
      .WaitFor("address 42", [&] { return f.StateOf("addr") == "42"; })
      .WaitFor("first success", [&] { return BoxCount(f.h.boxes, kSuccess) == 1; })
      .Do([&] {
        f.C(ComSerialBaud)->Select(4);  // "9600"
        f.Click(SetSerialBaud);
        EXPECT_EQ(f.h.session.Settings().serialBaudCode.load(), 5);
      })
      .WaitFor("baud code 5", [&] { return f.StateOf("baud") == "5"; })
      .WaitFor("second success", [&] { return BoxCount(f.h.boxes, kSuccess) == 2; })
      .Do([&] {
        f.C(ComCanFrameType)->Select(1);  // "ExdId"
        f.C(EditCanNodeAddr)->SetText("0x1FFFFFF0");
        f.Click(SetCanNodeAddr);
        EXPECT_EQ(f.h.session.Settings().canNodeId.load(), 0x1FFFFFF0u);
        EXPECT_EQ(f.h.session.Settings().canFrameType.load(), 1);
      })
      .WaitFor("extended identifier", [&] {
        auto s = f.sim.State();
        return s["canid"] == "0x1FFFFFF0" && s["frame"] == "1";
      })
      .WaitFor("third success", [&] { return BoxCount(f.h.boxes, kSuccess) == 3; })
      .Do([&] {
        f.C(ComCanRate)->Select(4);  // "125Kbps"
        f.Click(SetCanRate);
        EXPECT_EQ(f.h.session.Settings().canRateCode.load(), 5);
      })
      .WaitFor("rate code 5", [&] { return f.StateOf("rate") == "5"; })
      .WaitFor("fourth success", [&] { return BoxCount(f.h.boxes, kSuccess) == 4; })
      .Do([&] {
        f.C(ComSetOutMode)->Select(1);  // "触发模式"
        f.Click(SetOutputMode);
      })
      .WaitFor("trigger mode", [&] { return f.StateOf("mode") == "2"; })
      .WaitFor("fifth success", [&] { return BoxCount(f.h.boxes, kSuccess) == 5; })
      .Do([&] { f.dlg.EndDialog(kIdCancel); });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  EXPECT_EQ(f.h.boxes.Count(), 5u) << LastBox(f.h.boxes).text;
  ExpectStatusBoxesFromTheReader(f);
}

TEST(SettingsEndToEnd, ConfirmationsSendOnlyOnYes) {
  SimDialog f({"--restart-silence", "300"});
  ASSERT_TRUE(f.sim.Started());
  UiScript script;
  ConnectAndSettle(script, f)
      .Do([&] {
        // The recorder answers No unless told otherwise.
        f.Click(RestartSensor);
        f.Click(SaveConfig);
        f.Click(FactoryReset);
        // Then a write the sensor answers, which it sees after anything sent before it.
        f.C(EditSerialNodeAddr)->SetText("0x2A");
        f.Click(SetSerialNodeAddr);
      })
      .WaitFor("address written", [&] { return BoxCount(f.h.boxes, kSuccess) == 1; })
      .Do([&] {
        EXPECT_EQ(f.Requests("A1") + f.Requests("A2") + f.Requests("A3"), 0u);
        EXPECT_EQ(f.StateOf("saved"), "addr:1,baud:1,canid:0x100,frame:0,rate:3,mode:1");
        f.h.boxes.QueueAnswer(MessageAnswer::Yes);
        f.Click(SaveConfig);
      })
      .WaitFor("configuration saved",
               [&] { return f.StateOf("saved") == "addr:42,baud:1,canid:0x100,frame:0,rate:3,mode:1"; })
      .WaitFor("save answered", [&] { return BoxCount(f.h.boxes, kSuccess) == 2; })
      .Do([&] {
        f.h.boxes.QueueAnswer(MessageAnswer::Yes);
        f.Click(FactoryReset);
      })
      .WaitFor("factory address", [&] { return f.StateOf("addr") == "1"; })
      .WaitFor("reset answered", [&] { return BoxCount(f.h.boxes, kSuccess) == 3; })
      .Do([&] {
        f.h.boxes.QueueAnswer(MessageAnswer::Yes);
        f.Click(RestartSensor);
      })
      // A restart brings back the saved configuration.
      .WaitFor("restarted with the saved address", [&] { return f.StateOf("addr") == "42"; })
      .WaitFor("restart answered", [&] { return BoxCount(f.h.boxes, kSuccess) == 4; })
      .Do([&] { f.dlg.EndDialog(kIdCancel); });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));

  EXPECT_EQ(f.Requests("A1"), 1u);
  EXPECT_EQ(f.Requests("A2"), 1u);
  EXPECT_EQ(f.Requests("A3"), 1u);
  const auto boxes = f.h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 10u);
  const char* questions[] = {"确认要重启传感器吗？", "确认要将保存配置到传感器吗？", "确认要恢复出厂设置吗？"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(boxes[i].text, questions[i]);
    EXPECT_EQ(boxes[i].caption, kWarning);
    EXPECT_EQ(boxes[i].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes[i].answer, MessageAnswer::No);
  }
  ExpectStatusBoxesFromTheReader(f);
}

TEST(SettingsEndToEnd, RefusalsAndFailedWritesLeaveTheSensorAlone) {
  SimDialog f;
  ASSERT_TRUE(f.sim.Started());
  UiScript script;
  ConnectAndSettle(script, f).Do([&] {
    struct Refused {
      int edit, frameType, button;
      const char* text;
      const char* message;
    };
    const Refused refusals[] = {
        {EditSerialNodeAddr, -1, SetSerialNodeAddr, "0x100", "请输入0x00-0xFF之间的16进制数"},
        {EditSerialNodeAddr, -1, SetSerialNodeAddr, "0x1G", "设备ID格式输入错误"},
        {EditCanNodeAddr, 0, SetCanNodeAddr, "0x7F1", "请输入0x00-0x7F0之间的16进制数"},
        {EditCanNodeAddr, 0, SetCanNodeAddr, "7F0", "请输入0x0-0x1FFFFFFF之内的16进制整数"},
        {EditCanNodeAddr, 1, SetCanNodeAddr, "0x1FFFFFFF", "请输入0x00-0x1FFFFFF0之间的16进制数"},
    };
    for (const Refused& r : refusals) {
      if (r.frameType >= 0) f.C(ComCanFrameType)->Select(r.frameType);
      f.C(r.edit)->SetText(r.text);
      const std::size_t before = f.h.boxes.Count();
      f.Click(r.button);
      ASSERT_EQ(f.h.boxes.Count(), before + 1) << r.text;
      EXPECT_EQ(LastBox(f.h.boxes).text, r.message) << r.text;
      EXPECT_EQ(LastBox(f.h.boxes).caption, kWarning) << r.text;
      EXPECT_EQ(f.Text(r.edit), r.text);
    }
    // The last refusal was an extended identifier: that frame type is now recorded.
    EXPECT_EQ(f.h.session.Settings().canFrameType.load(), 1);
    f.dlg.ShowSettings();
    EXPECT_EQ(f.Text(EditCanNodeAddr), "0x00000100");
  });
  Tell(script, f, "status 1")
      .Do([&] {
        f.C(ComSerialBaud)->Select(4);
        f.Click(SetSerialBaud);
      })
      .WaitFor("invalid command", [&] { return BoxCount(f.h.boxes, kInvalid) == 1; });
  Tell(script, f, "status 7")
      .Do([&] {
        f.C(ComCanRate)->Select(0);
        f.Click(SetCanRate);
      })
      // It gets no box, so wait for the sensor to take it before the status changes again.
      .WaitFor("rate request taken", [&] { return f.Requests("93") == 1; });
  Tell(script, f, "status auto")
      .Do([&] {
        f.C(EditSerialNodeAddr)->SetText("0x33");
        f.Click(SetSerialNodeAddr);
      })
      // Replies are handled in order: once this one is shown, the status-7 one has been seen.
      .WaitFor("success after them", [&] { return BoxCount(f.h.boxes, kSuccess) == 1; })
      .Do([&] {
        auto state = f.sim.State();
        EXPECT_EQ(state["addr"], "51");
        EXPECT_EQ(state["baud"], "1");  // refused by status 1
        EXPECT_EQ(state["rate"], "3");  // refused by status 7
        EXPECT_EQ(state["canid"], "0x100");
        EXPECT_EQ(f.Requests("90"), 1u);
        EXPECT_EQ(f.Requests("92"), 0u);
        EXPECT_EQ(f.Requests("91"), 1u);
        EXPECT_EQ(f.Requests("93"), 1u);
        f.dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  // Five refusals, one "无效指令", nothing for status 7, one "设置成功".
  EXPECT_EQ(f.h.boxes.Count(), 7u) << LastBox(f.h.boxes).text;
  ExpectStatusBoxesFromTheReader(f);
}

TEST(SettingsEndToEnd, SwitchingTheFrameTypeOnlyChangesTheDisplay) {
  SimDialog f({"-c", "set canid 0x10"});
  ASSERT_TRUE(f.sim.Started());
  UiScript script;
  ConnectAndSettle(script, f)
      .Settle("identifier shown", [&] { return f.Text(EditCanNodeAddr) == "0x010"; }, 5s)
      .Do([&] {
        DialogControl* list = f.C(ComCanFrameType);
        ASSERT_EQ(f.Text(EditCanNodeAddr), "0x010");
        // The operator picks with the keyboard: a selection change, unlike Select().
        QTest::keyClick(list->Widget(), Qt::Key_Down);
        EXPECT_EQ(list->SelectedIndex(), 1);
        EXPECT_EQ(f.Text(EditCanNodeAddr), "0x00000010");
        EXPECT_EQ(f.C(EditCanNodeAddr)->LimitText(), 10);
        QTest::keyClick(list->Widget(), Qt::Key_Up);
        EXPECT_EQ(f.Text(EditCanNodeAddr), "0x010");
        EXPECT_EQ(f.C(EditCanNodeAddr)->LimitText(), 5);
        EXPECT_EQ(f.h.session.Settings().canFrameType.load(), 0);
        list->Select(1);
        EXPECT_EQ(f.Text(EditCanNodeAddr), "0x010");
        f.C(ComCanRate)->Select(1);
        f.Click(SetCanRate);
      })
      .WaitFor("rate written", [&] { return BoxCount(f.h.boxes, kSuccess) == 1; })
      .Do([&] {
        EXPECT_EQ(f.Requests("92"), 0u);
        EXPECT_EQ(f.StateOf("frame"), "0");
        f.dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  EXPECT_EQ(f.h.boxes.Count(), 1u);
}

}  // namespace
}  // namespace varnel
