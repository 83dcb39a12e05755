// The settings and card-search handlers of the main window against a recorded
// wire: exact request bytes, what is stored, what the operator is told, and a
// template with a control missing.
#include <gtest/gtest.h>

#include "tests/ui_settings/SettingsTestSupport.h"

namespace varnel {
namespace {

using test::Bytes;
using test::CodeOf;
using test::LastBox;
using test::MainTemplateWithout;
using test::PayloadOf;
using test::RecordedDialog;

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
  QTest::mouseClick(d.C(WriteCard)->Widget(), Qt::LeftButton);
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
  ASSERT_TRUE(test::WaitUntil([&] { return d.wire.Count() >= 1; }, std::chrono::seconds(10)));
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

}  // namespace
}  // namespace varnel
