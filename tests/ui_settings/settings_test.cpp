// The settings buttons of the main window, from two sides. Against a recorded
// wire: exact request bytes, what is stored, what the operator is told, and a
// template with a control missing. Against the simulated sensor: each press
// changes the sensor and the operator reads the sensor's answer; refusals,
// failed writes and answered-No confirmations leave the sensor as it was.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/ui_settings/SettingsTestSupport.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::BoxCount;
using test::Click;
using test::Key;
using test::PressKey;
using test::Bytes;
using test::CodeOf;
using test::ConnectAndSettle;
using test::LastBox;
using test::MainTemplateWithout;
using test::PayloadOf;
using test::RecordedDialog;
using test::SimDialog;
using test::Tell;
using test::UiScript;

const std::string kSuccess = "设置成功";
const std::string kInvalid = "无效指令";
const std::string kInfo = "提示";
const std::string kWarning = "警告";
const std::string kSerialRange = "请输入0x00-0xFF之间的16进制数";
const std::string kCanPrefix = "请输入0x0-0x1FFFFFFF之内的16进制整数";
const std::string kMalformed = "设备ID格式输入错误";
const std::string kStdRange = "请输入0x00-0x7F0之间的16进制数";
const std::string kExdRange = "请输入0x00-0x1FFFFFF0之间的16进制数";

// Types text into an edit and presses the button; answers the frames sent by it.
std::vector<Bytes> Press(RecordedDialog& d, int edit, const std::string& text, int button) {
  d.wire.Clear();
  d.C(edit)->SetText(text);
  d.Click(button);
  return d.wire.Frames();
}

TEST(SerialNodeAddressButton, SendsTheAddressOrRefusesWithTheRightMessage) {
  RecordedDialog d;
  using namespace main_ids;
  struct Accepted {
    const char* text;
    std::uint8_t payload;
  };
  for (const Accepted& a : {Accepted{"0xFF", 0xFF}, Accepted{"0X0a", 0x0A}, Accepted{"0x0", 0x00}}) {
    const auto frames = Press(d, EditSerialNodeAddr, a.text, SetSerialNodeAddr);
    ASSERT_EQ(frames.size(), 1u) << a.text;
    EXPECT_EQ(CodeOf(frames[0]), 0x90);
    EXPECT_EQ(PayloadOf(frames[0]), Bytes{a.payload}) << a.text;
  }
  EXPECT_EQ(d.h.boxes.Count(), 0u);
  // Only the sensor's next report changes what the record holds.
  EXPECT_EQ(d.session.Settings().serialNodeAddress.load(), 0);

  struct Refused {
    const char* text;
    const std::string& message;
  };
  for (const Refused& r : {Refused{"0x100", kSerialRange}, Refused{"FF", kSerialRange}, Refused{"", kSerialRange},
                           Refused{" 0x1", kSerialRange}, Refused{"0x", kMalformed}, Refused{"0x1G", kMalformed},
                           Refused{"0xF ", kMalformed}, Refused{"0x+5", kMalformed}}) {
    const std::size_t before = d.h.boxes.Count();
    EXPECT_TRUE(Press(d, EditSerialNodeAddr, r.text, SetSerialNodeAddr).empty()) << r.text;
    ASSERT_EQ(d.h.boxes.Count(), before + 1) << r.text;
    const auto box = LastBox(d.h.boxes);
    EXPECT_EQ(box.text, r.message) << r.text;
    EXPECT_EQ(box.caption, kWarning);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    // The operator's text stays for correcting.
    EXPECT_EQ(d.C(EditSerialNodeAddr)->Text(), r.text);
  }
}

TEST(CanNodeAddressButton, StandardIdentifiers) {
  RecordedDialog d;
  using namespace main_ids;
  d.C(ComCanFrameType)->Select(0);
  auto frames = Press(d, EditCanNodeAddr, "0x7F0", SetCanNodeAddr);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(CodeOf(frames[0]), 0x92);
  EXPECT_EQ(PayloadOf(frames[0]), (Bytes{0xF0, 0x07, 0x00, 0x00, 0x00}));
  EXPECT_EQ(d.session.Settings().canNodeId.load(), 0x7F0u);
  EXPECT_EQ(d.dlg.EnteredCanId(), 0x7F0u);
  EXPECT_EQ(d.dlg.EnteredFrameType(), 0);

  // The whole frame for 0x100, checksum included.
  frames = Press(d, EditCanNodeAddr, "0x100", SetCanNodeAddr);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x92, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD4, 0x79}));

  frames = Press(d, EditCanNodeAddr, "0x0", SetCanNodeAddr);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(PayloadOf(frames[0]), (Bytes{0, 0, 0, 0, 0}));
  EXPECT_EQ(d.h.boxes.Count(), 0u);

  for (const char* text : {"0x7F1", "0x800", "0x7FF", "0x8"}) {
    EXPECT_TRUE(Press(d, EditCanNodeAddr, text, SetCanNodeAddr).empty()) << text;
    EXPECT_EQ(LastBox(d.h.boxes).text, kStdRange) << text;
    EXPECT_EQ(LastBox(d.h.boxes).caption, kWarning);
  }
  // A refused value leaves the last accepted one in the record.
  EXPECT_EQ(d.session.Settings().canNodeId.load(), 0u);
}

TEST(CanNodeAddressButton, ExtendedIdentifiersAndTheFrameTypeOfARefusal) {
  RecordedDialog d;
  using namespace main_ids;
  d.C(ComCanFrameType)->Select(1);
  auto frames = Press(d, EditCanNodeAddr, "0x1FFFFFF0", SetCanNodeAddr);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(PayloadOf(frames[0]), (Bytes{0xF0, 0xFF, 0xFF, 0x1F, 0x01}));

  d.session.Settings().canNodeId.store(0x5A0);
  d.session.Settings().canFrameType.store(0);
  for (const char* text : {"0x1FFFFFFF", "0x20000000", "0x123456780"}) {
    EXPECT_TRUE(Press(d, EditCanNodeAddr, text, SetCanNodeAddr).empty()) << text;
    EXPECT_EQ(LastBox(d.h.boxes).text, kExdRange) << text;
  }
  // Nine digits saturate, and the saturated value is what was read.
  EXPECT_EQ(d.dlg.EnteredCanId(), 0x7FFFFFFFu);
  // The refusal still recorded the frame type, so the next display uses eight digits.
  EXPECT_EQ(d.session.Settings().canFrameType.load(), 1);
  EXPECT_EQ(d.dlg.EnteredFrameType(), 1);
  EXPECT_EQ(d.session.Settings().canNodeId.load(), 0x5A0u);
  d.C(ComCanFrameType)->Select(0);
  d.dlg.ShowSettings();
  EXPECT_EQ(d.C(EditCanNodeAddr)->Text(), "0x000005A0");
  EXPECT_EQ(d.C(ComCanFrameType)->SelectedIndex(), 1);
}

TEST(CanNodeAddressButton, PrefixAndFormatAreTestedBeforeTheFrameTypeIsRecorded) {
  RecordedDialog d;
  using namespace main_ids;
  d.C(ComCanFrameType)->Select(1);
  struct Refused {
    const char* text;
    const std::string& message;
  };
  for (const Refused& r : {Refused{"7F0", kCanPrefix}, Refused{"", kCanPrefix}, Refused{"0x", kMalformed},
                           Refused{"0x1G", kMalformed}, Refused{"0x10 ", kMalformed}}) {
    EXPECT_TRUE(Press(d, EditCanNodeAddr, r.text, SetCanNodeAddr).empty()) << r.text;
    EXPECT_EQ(LastBox(d.h.boxes).text, r.message) << r.text;
    EXPECT_EQ(LastBox(d.h.boxes).caption, kWarning);
    EXPECT_EQ(d.session.Settings().canFrameType.load(), 0) << r.text;
  }
  // What was read before the blank is kept as the entered value all the same.
  EXPECT_EQ(d.dlg.EnteredCanId(), 0x10u);
  // No frame type chosen: nothing sent and nothing said.
  d.C(ComCanFrameType)->Select(-1);
  const std::size_t boxes = d.h.boxes.Count();
  EXPECT_TRUE(Press(d, EditCanNodeAddr, "0x10", SetCanNodeAddr).empty());
  EXPECT_EQ(d.h.boxes.Count(), boxes);
}

TEST(SettingLists, SendTheCodeOfTheChoiceAndStoreWhatTheyShould) {
  RecordedDialog d;
  using namespace main_ids;
  auto pick = [&](int list, int index, int button) {
    d.wire.Clear();
    d.C(list)->Select(index);
    d.Click(button);
    const auto frames = d.wire.Frames();
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? Bytes{} : frames[0];
  };
  Bytes f = pick(ComSerialBaud, 4, SetSerialBaud);  // "9600"
  EXPECT_EQ(CodeOf(f), 0x91);
  EXPECT_EQ(PayloadOf(f), Bytes{0x05});
  EXPECT_EQ(d.session.Settings().serialBaudCode.load(), 5);

  f = pick(ComCanRate, 2, SetCanRate);  // "500Kbps"
  EXPECT_EQ(CodeOf(f), 0x93);
  EXPECT_EQ(PayloadOf(f), Bytes{0x03});
  EXPECT_EQ(d.session.Settings().canRateCode.load(), 3);

  f = pick(ComSetOutMode, 1, SetOutputMode);  // "触发模式"
  EXPECT_EQ(CodeOf(f), 0xA0);
  EXPECT_EQ(PayloadOf(f), Bytes{0x02});
  EXPECT_EQ(d.session.Settings().outputModeCode.load(), 0);
  d.dlg.ShowSettings();
  EXPECT_EQ(d.C(ComSetOutMode)->SelectedIndex(), 0);

  // No selection is code 0, sent as it is.
  f = pick(ComSerialBaud, -1, SetSerialBaud);
  EXPECT_EQ(PayloadOf(f), Bytes{0x00});
  EXPECT_EQ(d.session.Settings().serialBaudCode.load(), 0);
  EXPECT_EQ(d.h.boxes.Count(), 0u);
}

TEST(ConfirmedActions, OnlyYesSends) {
  RecordedDialog d;
  using namespace main_ids;
  struct Action {
    int button;
    const char* question;
    std::uint8_t code;
  };
  for (const Action& a : {Action{RestartSensor, "确认要重启传感器吗？", 0xA3},
                          Action{SaveConfig, "确认要将保存配置到传感器吗？", 0xA1},
                          Action{FactoryReset, "确认要恢复出厂设置吗？", 0xA2}}) {
    d.wire.Clear();
    d.h.boxes.Clear();
    d.h.boxes.QueueAnswer(MessageAnswer::No);
    d.Click(a.button);
    EXPECT_EQ(d.wire.Count(), 0u) << a.question;
    ASSERT_EQ(d.h.boxes.Count(), 1u);
    const auto box = LastBox(d.h.boxes);
    EXPECT_EQ(box.text, a.question);
    EXPECT_EQ(box.caption, kWarning);
    EXPECT_EQ(box.buttons, MessageButtons::YesNo);

    d.h.boxes.QueueAnswer(MessageAnswer::Yes);
    d.Click(a.button);
    const auto frames = d.wire.Frames();
    ASSERT_EQ(frames.size(), 1u) << a.question;
    EXPECT_EQ(CodeOf(frames[0]), a.code);
    EXPECT_EQ(PayloadOf(frames[0]), Bytes{0x01});
  }
  d.wire.Clear();
  d.h.boxes.QueueAnswer(MessageAnswer::Yes);
  d.Click(RestartSensor);
  EXPECT_EQ(d.wire.Frames().at(0), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xA3, 0x01, 0x00, 0x01, 0x99, 0x04}));
}

TEST(CardBox, ShowsNoCardOrTheSignedNumberAndLeavesTheRestAlone) {
  RecordedDialog d;
  DialogControl* box = d.C(main_ids::EditCardId);
  d.dlg.OnCardNumber(1, 305);
  EXPECT_EQ(box->Text(), "305");
  d.dlg.OnCardNumber(1, 0);
  EXPECT_EQ(box->Text(), "305");
  d.dlg.OnCardNumber(2, 77);
  EXPECT_EQ(box->Text(), "305");
  d.dlg.OnCardNumber(0, 99);
  EXPECT_EQ(box->Text(), "无卡");
  d.dlg.OnCardNumber(1, 0xFFFFFFFF);
  EXPECT_EQ(box->Text(), "-1");
  d.dlg.OnCardNumber(1, 0x80000001);
  EXPECT_EQ(box->Text(), "-2147483647");
  EXPECT_EQ(d.h.boxes.Count(), 0u);
}

TEST(CardWriteRow, IsShownDisabledAndDoesNothingEvenWhenPressed) {
  RecordedDialog d;
  using namespace main_ids;
  EXPECT_FALSE(d.C(WriteCard)->IsEnabled());
  EXPECT_FALSE(d.C(EditWriteCardId)->IsEnabled());
  d.C(EditCardId)->SetText("305");
  d.C(EditWriteCardId)->SetText("12345");
  Click(*d.C(WriteCard));
  // Not even an enabled button has anything behind it.
  d.C(WriteCard)->Enable(true);
  d.Click(WriteCard);
  EXPECT_EQ(d.wire.Count(), 0u);
  EXPECT_EQ(d.h.boxes.Count(), 0u);
  EXPECT_EQ(d.C(EditCardId)->Text(), "305");
  EXPECT_EQ(d.C(EditWriteCardId)->Text(), "12345");
  EXPECT_FALSE(d.session.IsCardPollRunning());
}

TEST(CardSearchButton, StartsAndStopsTheGatedPoll) {
  RecordedDialog d;
  using namespace main_ids;
  d.Click(SearchCard);
  EXPECT_EQ(d.C(SearchCard)->Text(), "停止寻卡");
  EXPECT_TRUE(d.dlg.CardSearchActive());
  EXPECT_TRUE(d.session.IsCardPollRunning());
  ASSERT_TRUE(test::WaitUntil([&] { return d.wire.Count() >= 1; }, std::chrono::seconds(10), test::ProcessEvents));
  d.Click(SearchCard);
  EXPECT_EQ(d.C(SearchCard)->Text(), "开始寻卡");
  EXPECT_FALSE(d.dlg.CardSearchActive());
  EXPECT_FALSE(d.session.IsCardPollRunning());
  // Nothing answered the first read, so at most the one tick that waited on the
  // gate went out when the stop released it (and one per read given up, should
  // a loaded machine hold the stop back past the reply deadline); every frame is a card read.
  const auto frames = d.wire.Frames();
  EXPECT_LE(frames.size(), 2u + d.session.LostCardReads());
  for (const Bytes& f : frames) EXPECT_EQ(f, (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64}));
}

// A template that lacks a control: each handler names what is missing
// (caption: the application's name) and sends nothing.
struct MissingCase {
  int missing;
  int button;  // 0: not a button, see the test
  const char* message;
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << "control " << c.missing; }

class MissingControl : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingControl, IsReportedAndNothingIsSent) {
  const MissingCase c = GetParam();
  RecordedDialog d(MainTemplateWithout(c.missing));
  if (DialogControl* frameList = d.C(main_ids::ComCanFrameType)) frameList->Select(0);
  if (DialogControl* edit = d.C(main_ids::EditSerialNodeAddr)) edit->SetText("0x10");
  if (DialogControl* edit = d.C(main_ids::EditCanNodeAddr)) edit->SetText("0x10");
  switch (c.button) {
    case 0:
      d.dlg.OnCanFrameTypeChange();
      break;
    case -1:
      d.dlg.OnCardNumber(1, 305);
      break;
    default:
      d.Click(c.button);
  }
  EXPECT_EQ(d.wire.Count(), 0u);
  ASSERT_EQ(d.h.boxes.Count(), 1u);
  const auto box = LastBox(d.h.boxes);
  EXPECT_EQ(box.text, c.message);
  EXPECT_TRUE(box.caption.empty());
  EXPECT_EQ(box.buttons, MessageButtons::Ok);
}

constexpr char kComboMissing[] = "Combo对象不存在，初始化失败";
INSTANTIATE_TEST_SUITE_P(
    Handlers, MissingControl,
    ::testing::Values(MissingCase{main_ids::EditSerialNodeAddr, main_ids::SetSerialNodeAddr, "Edit对象不存在，初始化失败"},
                      MissingCase{main_ids::EditCanNodeAddr, main_ids::SetCanNodeAddr, kComboMissing},
                      MissingCase{main_ids::ComCanFrameType, main_ids::SetCanNodeAddr, kComboMissing},
                      MissingCase{main_ids::EditCanNodeAddr, 0, kComboMissing},
                      MissingCase{main_ids::ComCanFrameType, 0, kComboMissing},
                      MissingCase{main_ids::ComSerialBaud, main_ids::SetSerialBaud, kComboMissing},
                      MissingCase{main_ids::ComCanRate, main_ids::SetCanRate, kComboMissing},
                      MissingCase{main_ids::ComSetOutMode, main_ids::SetOutputMode, "ComSetOutMode对象不存在！"},
                      MissingCase{main_ids::EditCardId, -1, "EditCardId对象不存在"}),
    [](const ::testing::TestParamInfo<MissingCase>& info) {
      const int b = info.param.button;
      const std::string by = b == 0 ? "FrameTypeChange" : b == -1 ? "CardNumber" : "Button" + std::to_string(b);
      return "Control" + std::to_string(info.param.missing) + "_" + by;
    });

// Against the simulated sensor.
using namespace main_ids;

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
        EXPECT_EQ(f.sim.RequestsOf(0xA1) + f.sim.RequestsOf(0xA2) + f.sim.RequestsOf(0xA3), 0u);
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

  EXPECT_EQ(f.sim.RequestsOf(0xA1), 1u);
  EXPECT_EQ(f.sim.RequestsOf(0xA2), 1u);
  EXPECT_EQ(f.sim.RequestsOf(0xA3), 1u);
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
      .WaitFor("rate request taken", [&] { return f.sim.RequestsOf(0x93) == 1; });
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
        EXPECT_EQ(f.sim.RequestsOf(0x90), 1u);
        EXPECT_EQ(f.sim.RequestsOf(0x92), 0u);
        EXPECT_EQ(f.sim.RequestsOf(0x91), 1u);
        EXPECT_EQ(f.sim.RequestsOf(0x93), 1u);
        f.dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  // Five refusals, one "无效指令", nothing for status 7, one "设置成功".
  EXPECT_EQ(f.h.boxes.Count(), 7u) << ::testing::PrintToString(f.h.boxes.Texts());
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
        PressKey(*list, Key::Down);
        EXPECT_EQ(list->SelectedIndex(), 1);
        EXPECT_EQ(f.Text(EditCanNodeAddr), "0x00000010");
        EXPECT_EQ(f.C(EditCanNodeAddr)->LimitText(), 10);
        PressKey(*list, Key::Up);
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
        EXPECT_EQ(f.sim.RequestsOf(0x92), 0u);
        EXPECT_EQ(f.StateOf("frame"), "0");
        f.dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  EXPECT_EQ(f.h.boxes.Count(), 1u);
}

}  // namespace
}  // namespace varnel
