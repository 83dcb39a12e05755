// The receive state machine: what it delivers from a byte stream, and what not.
#include "link/FrameReceiver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "link/TrafficDump.h"
#include "tests/link/WireFrames.h"
#include "tests/support/TrafficCapture.h"

namespace varnel {
namespace {

using test::Bytes;
using test::Concat;
using test::SeenFrame;
using test::WireFrame;

Bytes Filled(std::size_t count, std::uint8_t first) {
  Bytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

class FrameReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    receiver.SetTrafficLog(&dump_);
    receiver.SetFrameHandler([this](const LinkFrame& f) { seen.push_back(SeenFrame::From(f)); });
  }
  void Feed(const Bytes& bytes) { receiver.Feed(bytes.data(), bytes.size()); }

  std::string Dumped() { return dump_.Text(); }

  FrameReceiver receiver;
  std::vector<SeenFrame> seen;

 private:
  test::TrafficCapture dump_;
};

TEST_F(FrameReceiverTest, EmptyPayloadFrameCompletesWithItsTenthByte) {
  const Bytes frame = WireFrame(0x81, {});
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) receiver.RecvData(frame[i]);
  EXPECT_TRUE(seen.empty());
  receiver.RecvData(frame.back());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (SeenFrame{0xBBBBBBBB, 0x01, 0x81, {}, static_cast<std::uint16_t>(frame[8] | frame[9] << 8)}));
  EXPECT_EQ(receiver.FramesDelivered(), 1u);
}

TEST_F(FrameReceiverTest, GoodFrameIsDumpedAsRecvDataBeforeTheHandlerRuns) {
  std::string dumpWhenHandled;
  receiver.SetFrameHandler([&](const LinkFrame&) { dumpWhenHandled = Dumped(); });
  Feed({0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x7F, 0x00, 0x00, 0xF0, 0x30});
  EXPECT_EQ(dumpWhenHandled,
            "------------------------------------\r\n"
            "[Desc ] RecvData\r\n"
            "[HEX-8] (len: 10)\r\n"
            "AA AA AA AA 01 7F 00 00    ........\r\n"
            "F0 30                      .0\r\n");
}

TEST_F(FrameReceiverTest, BothPreamblesAndAnyAuxAreAccepted) {
  Feed(WireFrame(0x01, {1, 2, 3}, 0xAA, 0x00));
  Feed(WireFrame(0x02, {4}, 0xBB, 0xFF));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].preamble, 0xAAAAAAAAu);
  EXPECT_EQ(seen[0].aux, 0x00);
  EXPECT_EQ(seen[0].payload, (Bytes{1, 2, 3}));
  EXPECT_EQ(seen[1].preamble, 0xBBBBBBBBu);
  EXPECT_EQ(seen[1].aux, 0xFF);
}

TEST_F(FrameReceiverTest, NoiseBeforeAPreambleIsDiscarded) {
  const Bytes frame = WireFrame(0x30, {0, 0x78, 0x56, 0x34, 0x12});
  Feed(Concat({{0x00, 0x12, 0x55}, frame, {0xAA, 0x00}, frame, {0xBB, 0xBB, 0xBB, 0x7E}, frame}));
  ASSERT_EQ(seen.size(), 3u);
  for (const SeenFrame& f : seen) EXPECT_EQ(f.payload, (Bytes{0, 0x78, 0x56, 0x34, 0x12}));
}

TEST_F(FrameReceiverTest, MixedPreambleRunDoesNotSwallowTheFrameBehindIt) {
  Feed(Concat({{0xAA, 0xAA, 0xBB, 0xBB}, WireFrame(0x02, {9, 8})}));
  Feed(Concat({{0xBB, 0xAA, 0xAA, 0xBB, 0xAA}, WireFrame(0x03, {7}, 0xAA)}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, 0x02);
  EXPECT_EQ(seen[1].code, 0x03);
}

TEST_F(FrameReceiverTest, FramesBackToBackInOneBurstArriveInOrder) {
  Feed(Concat({WireFrame(0x01, {1}), WireFrame(0x02, {}), WireFrame(0x03, Filled(40, 0xA0))}));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].code, 0x01);
  EXPECT_EQ(seen[1].code, 0x02);
  EXPECT_EQ(seen[2].code, 0x03);
  EXPECT_EQ(seen[2].payload, Filled(40, 0xA0));
}

TEST_F(FrameReceiverTest, WrongTrailerReachesNeitherHandlerNorDump) {
  Bytes bad = WireFrame(0x10, {1, 2});
  bad.back() ^= 0x01;
  Feed(bad);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Dumped(), "");
  EXPECT_EQ(receiver.FramesRejected(), 1u);
  Feed(WireFrame(0x11, {3}));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, 0x11);
}

TEST_F(FrameReceiverTest, GoodFrameThatBeganInsideADamagedOneIsDelivered) {
  // A reply cut short on the wire: its header announces 20 payload bytes but
  // only 3 came before the next frames started.
  const Bytes cut = Concat({{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x05, 20, 0x00}, {1, 2, 3}});
  const Bytes first = WireFrame(0x06, {0x66, 0x67, 0x68, 0x69});
  const Bytes second = WireFrame(0x07, Filled(10, 0x30));
  Feed(Concat({cut, first, second}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].code, 0x06);
  EXPECT_EQ(seen[0].payload, (Bytes{0x66, 0x67, 0x68, 0x69}));
  EXPECT_EQ(seen[1].code, 0x07);
}

TEST_F(FrameReceiverTest, LargestAcceptedPayloadIsDelivered) {
  Feed(WireFrame(0x13, Filled(252, 0)));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].payload, Filled(252, 0));
}

TEST_F(FrameReceiverTest, OverlongFrameIsNeverDeliveredAndReceptionGoesOn) {
  Feed(WireFrame(0x13, Filled(253, 0)));
  Feed(WireFrame(0x13, Filled(256, 0x40)));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Dumped(), "");
  Feed(WireFrame(0x14, {5}));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, 0x14);
  // A frame right behind an overlong header is not lost either.
  Feed(Concat({{0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x13, 0xFD, 0x00}, WireFrame(0x15, {6})}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].code, 0x15);
}

TEST_F(FrameReceiverTest, WithoutAHandlerAGoodFrameIsDumpedAndDropped) {
  FrameReceiver bare;
  test::TrafficCapture trace;
  bare.SetTrafficLog(&trace);
  const Bytes frame = WireFrame(0x01, {});
  bare.Feed(frame.data(), frame.size());
  EXPECT_EQ(bare.FramesDelivered(), 1u);
  EXPECT_NE(trace.Text().find("[Desc ] RecvData\r\n[HEX-8] (len: 10)\r\n"), std::string::npos);
}

TEST_F(FrameReceiverTest, ResetDropsAHalfReceivedFrame) {
  const Bytes frame = WireFrame(0x21, {1, 2, 3, 4});
  Feed(Bytes(frame.begin(), frame.begin() + 9));
  receiver.Reset();
  Feed(Bytes(frame.begin() + 9, frame.end()));
  EXPECT_TRUE(seen.empty());
  Feed(frame);
  EXPECT_EQ(seen.size(), 1u);
}

// A stray byte equal to the reply's own preamble byte makes the receiver take
// the reply's fourth preamble byte for aux and its code and length for a long
// length: the empty reply only comes out once the line has been silent for
// longer than any frame takes (73 ms at 115200 Bd with the margin).
TEST_F(FrameReceiverTest, StrayPreambleByteBeforeAnEmptyReplyIsSearchedAgainWhenTheLineFallsSilent) {
  using std::chrono::milliseconds;
  for (const std::uint8_t stray : {0xAA, 0xBB}) {
    seen.clear();
    const Bytes reply = WireFrame(0x7F, {}, stray, 0x01);
    const Bytes wire = Concat({{stray}, reply});
    // In one burst, and byte by byte with short pauses (a USB adapter's packets).
    Feed(wire);
    receiver.LineIdle(milliseconds(72));
    EXPECT_TRUE(seen.empty()) << "a pause shorter than a frame is no silence";
    receiver.LineIdle(milliseconds(73));
    ASSERT_EQ(seen.size(), 1u) << std::hex << int{stray};
    EXPECT_EQ(seen[0], (SeenFrame{stray * 0x01010101u, 0x01, 0x7F, {}, static_cast<std::uint16_t>(reply[8] | reply[9] << 8)}));
    EXPECT_FALSE(receiver.HoldsBytes());

    for (const std::uint8_t b : wire) {
      receiver.RecvData(b);
      receiver.LineIdle(milliseconds(20));
    }
    receiver.LineIdle(milliseconds(500));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], seen[0]);
  }
}

TEST_F(FrameReceiverTest, SilenceInsideAFrameDropsItAndTheNextFrameComesThrough) {
  const Bytes frame = WireFrame(0x21, {1, 2, 3, 4});
  Feed(Bytes(frame.begin(), frame.begin() + 9));
  receiver.LineIdle(std::chrono::milliseconds(100));
  EXPECT_FALSE(receiver.HoldsBytes());
  Feed(frame);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].payload, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(receiver.FramesRejected(), 1u);
}

// Streams of good frames with noise between them, split at random points.
struct Stream {
  Bytes bytes;
  std::vector<SeenFrame> frames;
};

Stream RandomStream(std::mt19937& rng, bool preambleNoise) {
  Stream s;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> frames(1, 30);
  std::uniform_int_distribution<int> length(0, 252);
  std::uniform_int_distribution<int> noise(0, 12);
  auto noiseByte = [&] {
    if (preambleNoise && byte(rng) < 64) return static_cast<std::uint8_t>(byte(rng) & 1 ? 0xAA : 0xBB);
    std::uint8_t b;
    do b = static_cast<std::uint8_t>(byte(rng));
    while (b == 0xAA || b == 0xBB);
    return b;
  };
  const int count = frames(rng);
  for (int f = 0; f < count; ++f) {
    for (int n = noise(rng); n > 0; --n) s.bytes.push_back(noiseByte());
    Bytes payload(static_cast<std::size_t>(length(rng)));
    for (auto& b : payload) b = static_cast<std::uint8_t>(byte(rng));
    const std::uint8_t pre = byte(rng) & 1 ? 0xAA : 0xBB;
    const std::uint8_t code = static_cast<std::uint8_t>(byte(rng));
    const std::uint8_t aux = static_cast<std::uint8_t>(byte(rng));
    const Bytes wire = WireFrame(code, payload, pre, aux);
    s.bytes.insert(s.bytes.end(), wire.begin(), wire.end());
    s.frames.push_back({pre * 0x01010101u, aux, code, payload,
                        static_cast<std::uint16_t>(wire[wire.size() - 2] | wire.back() << 8)});
  }
  // A frame held back by stray preamble bytes completes once enough later bytes come.
  for (std::size_t n = 0; n < FrameReceiver::kMaxHeld; ++n) s.bytes.push_back(0x00);
  return s;
}

std::vector<SeenFrame> ReceiveInChunks(const Bytes& bytes, std::mt19937* rng) {
  std::vector<SeenFrame> out;
  FrameReceiver receiver;
  receiver.SetDumpEnabled(false);
  receiver.SetFrameHandler([&](const LinkFrame& f) { out.push_back(SeenFrame::From(f)); });
  if (!rng) {
    for (std::uint8_t b : bytes) receiver.RecvData(b);
    return out;
  }
  std::uniform_int_distribution<std::size_t> chunk(1, 3000);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t n = std::min(chunk(*rng), bytes.size() - at);
    receiver.Feed(bytes.data() + at, n);
    at += n;
  }
  return out;
}

TEST(FrameReceiverPropertyTest, EveryFrameBetweenPlainNoiseIsDeliveredInOrderHoweverSplit) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 200; ++round) {
    const Stream s = RandomStream(rng, false);
    const auto byByte = ReceiveInChunks(s.bytes, nullptr);
    ASSERT_EQ(byByte, s.frames) << "round " << round;
    ASSERT_EQ(ReceiveInChunks(s.bytes, &rng), byByte) << "round " << round;
  }
}

TEST(FrameReceiverPropertyTest, StrayPreambleBytesLoseNoFrame) {
  std::mt19937 rng(977);
  for (int round = 0; round < 200; ++round) {
    const Stream s = RandomStream(rng, true);
    const auto byByte = ReceiveInChunks(s.bytes, nullptr);
    ASSERT_EQ(byByte, s.frames) << "round " << round;
    ASSERT_EQ(ReceiveInChunks(s.bytes, &rng), byByte) << "round " << round;
  }
}

}  // namespace
}  // namespace varnel
