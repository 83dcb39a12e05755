// The frame on the wire and its checksum, against worked vectors.
#include "link/LinkFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace varnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Serialise(LinkFrame& frame) {
  std::uint8_t out[kLinkMaxWireFrame + 16];
  const std::size_t n = SerialiseFrame(frame, out);
  return Bytes(out, out + n);
}

TEST(Crc16Test, WorkedVectors) {
  const char* digits = "123456789";
  EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x4B37);
  const std::uint8_t header[] = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00};
  EXPECT_EQ(Crc16(header, sizeof header), 0xABAE);
  // Nothing checked: the initial value comes back unchanged.
  EXPECT_EQ(Crc16(header, 0), 0xFFFF);
  // The firmware image "abc" checksum.
  EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>("abc"), 3), 0x5749);
}

struct WorkedFrame {
  const char* name;
  std::uint8_t code;
  Bytes payload;
  Bytes wire;
};

class WorkedFrameTest : public ::testing::TestWithParam<WorkedFrame> {};

TEST_P(WorkedFrameTest, SerialisesToItsWireBytesAndStoresTheCrc) {
  const WorkedFrame& w = GetParam();
  LinkFrame frame = MakeRequest(w.code, w.payload.data(), w.payload.size());
  EXPECT_EQ(frame.preamble, 0xBBBBBBBBu);
  EXPECT_EQ(frame.aux, 0x01);
  EXPECT_EQ(frame.length, w.payload.size());
  EXPECT_EQ(Serialise(frame), w.wire);
  const std::size_t n = w.wire.size();
  EXPECT_EQ(frame.crc, w.wire[n - 2] | (w.wire[n - 1] << 8));
}

INSTANTIATE_TEST_SUITE_P(
    HostRequests, WorkedFrameTest,
    ::testing::Values(
        WorkedFrame{"identity", 0x01, {}, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}},
        WorkedFrame{"cardRead", 0x30, {}, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64}},
        WorkedFrame{"keepAlive", 0x7F, {0x01},
                    {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94}},
        WorkedFrame{"restart", 0xA3, {0x01},
                    {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xA3, 0x01, 0x00, 0x01, 0x99, 0x04}},
        WorkedFrame{"canNodeId", 0x92, {0x00, 0x01, 0x00, 0x00, 0x00},
                    {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x92, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD4,
                     0x79}},
        WorkedFrame{"firmwareBegin", 0xF0, {0x00},
                    {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0xF0, 0x01, 0x00, 0x00, 0x49, 0x80}}),
    [](const ::testing::TestParamInfo<WorkedFrame>& info) { return std::string(info.param.name); });

TEST(SerialiseFrameTest, FullPayloadGivesTheLongestFrameWithTheCrcRightBehindIt) {
  LinkFrame frame = MakeRequest(0xF2);
  frame.length = 256;
  for (int i = 0; i < 256; ++i) frame.payload[i] = static_cast<std::uint8_t>(255 - i);
  const Bytes wire = Serialise(frame);
  ASSERT_EQ(wire.size(), 266u);
  EXPECT_EQ(wire[6], 0x00);
  EXPECT_EQ(wire[7], 0x01);  // length 256, low byte first
  EXPECT_EQ(wire[8], 0xFF);
  EXPECT_EQ(wire[263], 0x00);
  const std::uint16_t crc = Crc16(wire.data(), 264);
  EXPECT_EQ(wire[264], crc & 0xFF);
  EXPECT_EQ(wire[265], crc >> 8);
}

TEST(SerialiseFrameTest, OverlongLengthIsCutToTheRecordsCapacity) {
  LinkFrame frame = MakeRequest(0x01);
  frame.length = 300;  // more than the record holds: never read past the payload
  std::uint8_t out[kLinkMaxWireFrame + 64];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(SerialiseFrame(frame, out), 266u);
  EXPECT_EQ(frame.length, 256);
  EXPECT_EQ(out[266], 0xEE);
}

TEST(SerialiseFrameTest, AnyPreambleAndAuxGoOutAsGiven) {
  LinkFrame frame = MakeRequest(0x01);
  frame.preamble = 0x44332211;
  frame.aux = 0x5A;
  const Bytes wire = Serialise(frame);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 8), (Bytes{0x11, 0x22, 0x33, 0x44, 0x5A, 0x01, 0x00, 0x00}));
}

}  // namespace
}  // namespace varnel
