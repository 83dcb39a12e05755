// Requests on the wire byte for byte, the identity lines, and what each reply does.
#include "protocol/CommandSet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/protocol/Recorders.h"

namespace varnel::test {
namespace {

using ::testing::ElementsAre;

Bytes Wire(LinkFrame frame) {
  std::uint8_t out[kLinkMaxWireFrame];
  return Bytes(out, out + SerialiseFrame(frame, out));
}

TEST(RequestBytes, WorkedFramesAreExact) {
  EXPECT_EQ(Wire(MakeReadRequest(0x01)), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}));
  EXPECT_EQ(Wire(MakeReadRequest(0x30)), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64}));
  EXPECT_EQ(Wire(MakeKeepAliveRequest()),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94}));
  EXPECT_EQ(Wire(MakeRestartRequest()),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xA3, 0x01, 0x00, 0x01, 0x99, 0x04}));
  EXPECT_EQ(Wire(MakeCanIdRequest(0x100, 0)),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x92, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD4, 0x79}));
  EXPECT_EQ(Wire(MakeOtaBeginRequest()),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF0, 0x01, 0x00, 0x00, 0x49, 0x80}));
  EXPECT_EQ(Wire(MakeOtaFileInfoRequest(3, 0x5749)),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF1, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00,
                   0x00, 0x49, 0x57, 0x00, 0x00, 0x07, 0x24}));
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Wire(MakeOtaChunkRequest(0, abc, 3)),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF2, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00,
                   0x00, 0x61, 0x62, 0x63, 0xA3, 0x62}));
}

TEST(RequestBytes, EveryRequestOfTheTable) {
  const Bytes h = {0xBB, 0xBB, 0xBB, 0xBB, 0x01};
  auto req = [&](Bytes rest) {
    Bytes body = h;
    body.insert(body.end(), rest.begin(), rest.end());
    return Framed(body);
  };
  for (std::uint8_t code : {0x02, 0x03, 0x10, 0x11, 0x12, 0x13}) {
    EXPECT_EQ(Wire(MakeReadRequest(code)), req({code, 0x00, 0x00})) << int(code);
  }
  EXPECT_EQ(Wire(MakeNodeAddressRequest(0xFF)), req({0x90, 0x01, 0x00, 0xFF}));
  EXPECT_EQ(Wire(MakeSerialBaudRequest(5)), req({0x91, 0x01, 0x00, 0x05}));
  EXPECT_EQ(Wire(MakeCanIdRequest(0x7F0, 0)), req({0x92, 0x05, 0x00, 0xF0, 0x07, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Wire(MakeCanIdRequest(0x1FFFFFF0, 1)), req({0x92, 0x05, 0x00, 0xF0, 0xFF, 0xFF, 0x1F, 0x01}));
  EXPECT_EQ(Wire(MakeCanRateRequest(3)), req({0x93, 0x01, 0x00, 0x03}));
  EXPECT_EQ(Wire(MakeOutputModeRequest(2)), req({0xA0, 0x01, 0x00, 0x02}));
  EXPECT_EQ(Wire(MakeSaveConfigRequest()), req({0xA1, 0x01, 0x00, 0x01}));
  EXPECT_EQ(Wire(MakeFactoryResetRequest()), req({0xA2, 0x01, 0x00, 0x01}));
  EXPECT_EQ(Wire(MakeOtaEndRequest()), req({0xF3, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Wire(MakeOtaFinishRequest()), req({0xF4, 0x01, 0x00, 0x00}));
}

TEST(RequestBytes, RegistrationRecordAndRequest) {
  const RegistrationRecord record = MakeRegistrationRecord(2024, 3, "A17");
  Bytes payload = {0xFE, 0xFE, 0xFE, 0xFE, 0x18, 0x03, 0x41, 0x31, 0x37};
  payload.resize(38, 0x00);
  Bytes body = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xEF, 0x26, 0x00};
  body.insert(body.end(), payload.begin(), payload.end());
  EXPECT_EQ(Wire(MakeRegisterSnRequest(record)), Framed(body));

  // An empty text leaves an all-zero field; an over-long one keeps its zero.
  const RegistrationRecord empty = MakeRegistrationRecord(2019, 7, "");
  EXPECT_EQ(empty.year, 19);
  EXPECT_EQ(empty.month, 7);
  EXPECT_EQ(Bytes(empty.text, empty.text + 32), Bytes(32, 0));
  const RegistrationRecord longText = MakeRegistrationRecord(2019, 7, std::string(40, 'x'));
  EXPECT_EQ(Bytes(longText.text, longText.text + 32), [] {
    Bytes b(31, 'x');
    b.push_back(0);
    return b;
  }());
}

// --- Identity lines -----------------------------------------------------------

const Bytes kFirmwareGbk = {0xB9, 0xCC, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE};  // 固件版本
const Bytes kHardwareGbk = {0xD3, 0xB2, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE};  // 硬件版本
const Bytes kDeviceGbk = {0xC9, 0xE8, 0xB1, 0xB8};                            // 设备

Bytes Concat(Bytes a, std::string_view b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(IdentityLines, GbkPrefixesAndNumbers) {
  EXPECT_EQ(Str(FormatFirmwareVersionLine(255, 255, 255)), Concat(kFirmwareGbk, " : V255.255.255\r\n"));
  EXPECT_EQ(Str(FormatFirmwareVersionLine(1, 0, 12)), Concat(kFirmwareGbk, " : V1.0.12\r\n"));
  EXPECT_EQ(Str(FormatHardwareVersionLine(2, 1, 0)), Concat(kHardwareGbk, " : V2.1.0\r\n"));
  EXPECT_EQ(Str(FormatSerialNumberLine(5, 7, "")), Concat(kDeviceGbk, " S/N : 05-07-\r\n"));
  EXPECT_EQ(Str(FormatSerialNumberLine(24, 3, "A17")), Concat(kDeviceGbk, " S/N : 24-03-A17\r\n"));
  EXPECT_EQ(Str(FormatSerialNumberLine(255, 12, "x")), Concat(kDeviceGbk, " S/N : 255-12-x\r\n"));
}

TEST(IdentityLines, LongSerialIsCutToTheLineBuffer) {
  const std::string line = FormatSerialNumberLine(24, 3, std::string(250, 'X'));
  ASSERT_EQ(line.size(), 127u);  // 128-byte buffer with its zero
  const Bytes head = Concat(kDeviceGbk, " S/N : 24-03-");
  EXPECT_EQ(Bytes(line.begin(), line.begin() + head.size()), head);
  EXPECT_EQ(line.substr(head.size(), 127 - head.size() - 2), std::string(127 - head.size() - 2, 'X'));
  EXPECT_EQ(line.substr(125), "\r\n");
}

// --- Reply handlers -------------------------------------------------------------

class ReplyHandlers : public ::testing::Test {
 protected:
  void Run(void (*handler)(ReplyTargets, const std::uint8_t*, std::size_t), const LinkFrame& frame) {
    handler(ReplyTargets{settings, op}, frame.payload, frame.length);
  }
  SensorSettings settings;
  RecordingPoster poster;
  RecordingPresenter boxes;
  Operator op{boxes, poster};
};

TEST_F(ReplyHandlers, FirmwareReplyEmptiesTheBoxThenAppends) {
  Run(OnFirmwareVersionReply, Reply(0x01, {0x99, 255, 255, 255}));
  const auto posted = poster.All();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].caption, "Varnel");
  EXPECT_EQ(posted[0].notification.message, 0x465u);
  EXPECT_EQ(posted[0].notification.wParam, 0xFFFFFFFFu);
  EXPECT_EQ(posted[0].notification.lParam, 0u);
  EXPECT_FALSE(posted[0].notification.text.has_value());
  EXPECT_EQ(posted[1].notification.message, 0x465u);
  EXPECT_EQ(posted[1].notification.wParam, 0u);
  EXPECT_EQ(Str(posted[1].notification.text.value()), Concat(kFirmwareGbk, " : V255.255.255\r\n"));
}

TEST_F(ReplyHandlers, HardwareAndSerialOnlyAppend) {
  Run(OnHardwareVersionReply, Reply(0x02, {0, 1, 2, 3}));
  Run(OnSerialNumberReply, Reply(0x03, {5, 7, 0x00, 'Z'}));
  const auto posted = poster.All();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].notification.wParam, 0u);
  EXPECT_EQ(Str(*posted[0].notification.text), Concat(kHardwareGbk, " : V1.2.3\r\n"));
  EXPECT_EQ(Str(*posted[1].notification.text), Concat(kDeviceGbk, " S/N : 05-07-\r\n"));
}

TEST_F(ReplyHandlers, SerialTextWithoutZeroEndsAtThePayload) {
  // Stale 'Q' bytes follow the payload in the record; they must not be read.
  Run(OnSerialNumberReply, Reply(0x03, {24, 3, 'A', '1', '7'}, 'Q'));
  ASSERT_EQ(poster.All().size(), 1u);
  EXPECT_EQ(Str(*poster.All()[0].notification.text), Concat(kDeviceGbk, " S/N : 24-03-A17\r\n"));
}

TEST_F(ReplyHandlers, SettingsRepliesStoreAndRefresh) {
  Run(OnNodeAddressReply, Reply(0x10, {0x2A}));
  Run(OnSerialBaudReply, Reply(0x11, {5}));
  Run(OnCanIdReply, Reply(0x12, {0x00, 0x01, 0x00, 0x00, 0x01}));
  Run(OnCanRateReply, Reply(0x13, {4}));
  EXPECT_EQ(settings.serialNodeAddress.load(), 0x2A);
  EXPECT_EQ(settings.serialBaudCode.load(), 5);
  EXPECT_EQ(settings.canNodeId.load(), 0x100u);
  EXPECT_EQ(settings.canFrameType.load(), 1);
  EXPECT_EQ(settings.canRateCode.load(), 4);
  EXPECT_EQ(settings.outputModeCode.load(), 0);  // no reply reports it
  const auto posted = poster.All();
  ASSERT_EQ(posted.size(), 4u);
  for (const Posted& p : posted) {
    EXPECT_EQ(p.caption, "Varnel");
    EXPECT_EQ(p.notification.message, 0x466u);
    EXPECT_EQ(p.notification.wParam, 0u);
    EXPECT_EQ(p.notification.lParam, 0xFFFFFFFFu);
  }
  // Out-of-range codes are stored as received.
  Run(OnSerialBaudReply, Reply(0x11, {0xEE}));
  EXPECT_EQ(settings.serialBaudCode.load(), 0xEE);
}

TEST_F(ReplyHandlers, CardReplies) {
  Run(OnCardReply, Reply(0x30, {0x01, 0x31, 0x01, 0x00, 0x00}));
  Run(OnCardReply, Reply(0x30, {0x00, 0x00, 0x00, 0x00, 0x00}));
  Run(OnCardReply, Reply(0x30, {0x01, 0x78, 0x56, 0x34, 0xF2}));
  const auto posted = poster.All();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].notification.message, 0x467u);
  EXPECT_EQ(posted[0].notification.wParam, 1u);
  EXPECT_EQ(posted[0].notification.lParam, 305u);
  EXPECT_EQ(posted[1].notification.wParam, 0u);
  EXPECT_EQ(posted[1].notification.lParam, 0u);
  EXPECT_EQ(posted[2].notification.lParam, 0xF2345678u);  // top bit kept
}

TEST_F(ReplyHandlers, ShortPayloadsAreIgnored) {
  // One byte short of each layout, with stale bytes behind it in the record.
  Run(OnFirmwareVersionReply, Reply(0x01, {1, 2, 3}));
  Run(OnHardwareVersionReply, Reply(0x02, {1, 2, 3}));
  Run(OnSerialNumberReply, Reply(0x03, {24}));
  Run(OnNodeAddressReply, Reply(0x10, {}));
  Run(OnSerialBaudReply, Reply(0x11, {}));
  Run(OnCanIdReply, Reply(0x12, {1, 2, 3, 4}));
  Run(OnCanRateReply, Reply(0x13, {}));
  Run(OnCardReply, Reply(0x30, {1, 2, 3, 4}));
  EXPECT_TRUE(poster.All().empty());
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(settings.serialNodeAddress.load(), 0);
  EXPECT_EQ(settings.serialBaudCode.load(), 0);
  EXPECT_EQ(settings.canNodeId.load(), 0u);
  EXPECT_EQ(settings.canFrameType.load(), 0);
  EXPECT_EQ(settings.canRateCode.load(), 0);
}

TEST_F(ReplyHandlers, NoMainDialogShowsOneMessagePerNotification) {
  poster.SetWindows({});
  Run(OnFirmwareVersionReply, Reply(0x01, {0, 1, 0, 12}));  // two notifications
  Run(OnHardwareVersionReply, Reply(0x02, {0, 1, 0, 0}));
  Run(OnSerialNumberReply, Reply(0x03, {24, 3, 'A', 0}));
  Run(OnNodeAddressReply, Reply(0x10, {7}));
  Run(OnCanIdReply, Reply(0x12, {0, 1, 0, 0, 0}));
  Run(OnCardReply, Reply(0x30, {1, 1, 0, 0, 0}));
  EXPECT_TRUE(poster.All().empty());
  const auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 7u);
  for (const Shown& s : shown) {
    EXPECT_EQ(s.text, "找不到CVarnelDlg对象");
    EXPECT_EQ(s.caption, "警告");
    EXPECT_EQ(s.buttons, MessageButtons::Ok);
    EXPECT_EQ(s.owner, MessageOwner::None);
  }
  // The value is still stored before the notification is tried.
  EXPECT_EQ(settings.serialNodeAddress.load(), 7);
}

}  // namespace
}  // namespace varnel::test
