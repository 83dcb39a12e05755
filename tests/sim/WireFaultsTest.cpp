// What reaches the wire: the sensor's own receiver framing the host's bytes,
// the faults applied to the reply bytes (read back with the host's receiver),
// and the instants at which delayed and paced replies leave.
#include <gtest/gtest.h>

#include "sim/ControlCommands.h"
#include "sim/SimSensor.h"
#include "tests/sim/SimTestSupport.h"

namespace varnel::sim::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const Bytes kFirmwareQuery = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB};
const Bytes kFirmwareReply = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x04, 0x00,
                              0x00, 0x01, 0x00, 0x0C, 0x01, 0x49};

class WireFaultsTest : public ::testing::Test {
 protected:
  std::vector<WireWrite> Feed(const Bytes& bytes) { return sensor_.Feed(bytes.data(), bytes.size(), clock_.now); }
  FaultSettings& faults() { return sensor_.shaper().settings(); }

  ManualClock clock_;
  SimSensor sensor_{clock_.Get()};
};

TEST_F(WireFaultsTest, HostFramesAreFoundWhateverSurroundsThem) {
  Bytes chunk = {0x00, 0x00, 0x00, 0x00, 0xF8, 0x00, 0x00, 0x00};
  chunk.resize(8 + 248, 0xBB);  // preamble bytes inside the payload are data
  Bytes stream = {0x00, 0x12, 0x55, 0xAA, 0x00, 0xBB, 0xBB, 0xAA};  // noise and broken preambles
  Bytes bad = kFirmwareQuery;
  bad.back() ^= 0x01;
  stream.insert(stream.end(), bad.begin(), bad.end());
  const Bytes begin = Wire(Request(0xF0, {0x00}));
  const Bytes info = Wire(Request(0xF1, {0x00, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const Bytes full = Wire(Request(0xF2, chunk));  // 266 bytes: the longest frame a host sends
  for (const Bytes* b : {&begin, &info, &full, &kFirmwareQuery}) stream.insert(stream.end(), b->begin(), b->end());

  // Fed one byte at a time, the replies are the same as for one burst.
  Bytes replies;
  for (std::uint8_t b : stream) {
    const Bytes out = Concat(sensor_.Feed(&b, 1, clock_.now));
    replies.insert(replies.end(), out.begin(), out.end());
  }
  const HostView view = ReadAsHost(replies);
  ASSERT_EQ(view.frames.size(), 4u);
  EXPECT_EQ(view.frames[0].code, 0xF0);
  EXPECT_EQ(view.frames[1].code, 0xF1);
  EXPECT_EQ(view.frames[2].code, 0xF2);
  EXPECT_EQ(view.frames[2].payload, Bytes{0x00}) << "the 248-byte chunk was taken";
  EXPECT_EQ(view.frames[3].code, 0x01);
  EXPECT_EQ(sensor_.badFrames(), 1u);
  EXPECT_EQ(sensor_.model().firmware().received().size(), 248u);
}

TEST_F(WireFaultsTest, WithoutFaultsAReplyIsOneWriteAtOnce) {
  const auto writes = Feed(kFirmwareQuery);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, kFirmwareReply);
  EXPECT_EQ(writes[0].at, clock_.now);
}

TEST_F(WireFaultsTest, SplitRepliesAreSingleByteWrites) {
  faults().split = true;
  const auto writes = Feed(kFirmwareQuery);
  ASSERT_EQ(writes.size(), kFirmwareReply.size());
  for (const WireWrite& w : writes) {
    EXPECT_EQ(w.bytes.size(), 1u);
    EXPECT_TRUE(w.alone);
  }
  EXPECT_EQ(Concat(writes), kFirmwareReply);
}

TEST_F(WireFaultsTest, NoiseBeforeARepliesIsDiscardedByTheHost) {
  faults().noiseBytes = 40;
  const Bytes out = Concat(Feed(kFirmwareQuery));
  ASSERT_EQ(out.size(), 40u + kFirmwareReply.size());
  for (std::size_t i = 0; i < 40; ++i) {
    EXPECT_NE(out[i], 0xAA) << i;
    EXPECT_NE(out[i], 0xBB) << i;
  }
  EXPECT_EQ(Bytes(out.begin() + 40, out.end()), kFirmwareReply);
  const HostView view = ReadAsHost(out);
  ASSERT_EQ(view.frames.size(), 1u);
  EXPECT_EQ(view.frames[0].payload, (Bytes{0x00, 0x01, 0x00, 0x0C}));
}

TEST_F(WireFaultsTest, TheAAPreambleKeepsTheFrameGood) {
  faults().preambleAA = true;
  const Bytes out = Concat(Feed(kFirmwareQuery));
  EXPECT_EQ(out, (Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x01, 0x04, 0x00, 0x00, 0x01, 0x00, 0x0C, 0xFD, 0x49}));
  const HostView view = ReadAsHost(out);
  ASSERT_EQ(view.frames.size(), 1u);
  EXPECT_EQ(view.frames[0].preamble, 0xAAAAAAAAu);
}

TEST_F(WireFaultsTest, DuplicateAndUnrequestedRepliesComeOnceAfterTheirCode) {
  ASSERT_TRUE(RunCommand(sensor_, "duplicate 0x01").ok);
  ASSERT_TRUE(RunCommand(sensor_, "unrequested 0xF3 0x01").ok);
  EXPECT_FALSE(RunCommand(sensor_, "unrequested 0xF3").ok);
  const HostView first = ReadAsHost(Concat(Feed(kFirmwareQuery)));
  ASSERT_EQ(first.frames.size(), 3u);
  EXPECT_EQ(first.frames[0].code, 0x01);
  EXPECT_EQ(first.frames[1].code, 0x01);
  EXPECT_EQ(first.frames[1].payload, first.frames[0].payload);
  EXPECT_EQ(first.frames[2].code, 0xF3);
  EXPECT_EQ(first.frames[2].payload, Bytes{0x00});
  // Both were spent on that reply.
  EXPECT_EQ(Concat(Feed(kFirmwareQuery)), kFirmwareReply);
  EXPECT_NE(sensor_.StatsLine().find("duplicated=1 unrequested=1"), std::string::npos);
}

TEST_F(WireFaultsTest, EveryNthReplyIsDropped) {
  faults().dropEvery = 3;
  std::vector<std::size_t> answered;
  for (std::size_t i = 1; i <= 7; ++i) {
    if (!Feed(kFirmwareQuery).empty()) answered.push_back(i);
  }
  EXPECT_EQ(answered, (std::vector<std::size_t>{1, 2, 4, 5, 7}));
  EXPECT_EQ(sensor_.shaper().counts().dropped, 2u);
  EXPECT_NE(sensor_.StatsLine().find("dropped=2"), std::string::npos);
}

TEST_F(WireFaultsTest, CorruptedRepliesAreRejectedByTheHost) {
  faults().corruptEvery = 2;
  Bytes out;
  for (int i = 0; i < 4; ++i) {
    const Bytes b = Concat(Feed(kFirmwareQuery));
    ASSERT_EQ(b.size(), kFirmwareReply.size()) << "a corrupted reply is still sent whole";
    out.insert(out.end(), b.begin(), b.end());
  }
  HostView view = ReadAsHost(out);
  EXPECT_EQ(view.frames.size(), 2u);
  EXPECT_EQ(view.rejected, 2u);

  faults().corruptEvery = 1;
  view = ReadAsHost(Concat(Feed(kFirmwareQuery)));
  EXPECT_TRUE(view.frames.empty());
  EXPECT_EQ(view.rejected, 1u);
}

TEST_F(WireFaultsTest, ASilentSensorStillCarriesOutRequests) {
  faults().silent = true;
  EXPECT_TRUE(Feed(kFirmwareQuery).empty());
  EXPECT_TRUE(Feed(Wire(Request(0x91, {0x05}))).empty());
  EXPECT_EQ(sensor_.model().running().baudCode, 5);
  EXPECT_EQ(sensor_.shaper().counts().silenced, 2u);
  faults().silent = false;
  EXPECT_EQ(Concat(Feed(kFirmwareQuery)), kFirmwareReply);

  // The card reads the host is still waiting for show in the counters.
  const Bytes cardRead = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64};
  EXPECT_FALSE(Feed(cardRead).empty());
  faults().silent = true;
  EXPECT_TRUE(Feed(cardRead).empty());
  EXPECT_NE(sensor_.StatsLine().find("card-reads=2 card-replies=1 "), std::string::npos) << sensor_.StatsLine();
}

TEST_F(WireFaultsTest, ADelayedReplyLeavesThatMuchLater) {
  faults().delay = milliseconds(250);
  const auto writes = Feed(kFirmwareQuery);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].at, clock_.now + milliseconds(250));
}

// The instant n bytes take at 115200 Bd, 10 bits each, from the test's own arithmetic.
nanoseconds At115200(std::int64_t bytes) {
  return nanoseconds((bytes * 10 * 1'000'000'000LL + 57'600) / 115'200);
}

// Each leg of an exchange is rounded to the nanosecond on its own.
#define EXPECT_AT(actual, expected) EXPECT_NEAR(double((actual).count()), double((expected).count()), 2.0)

TEST_F(WireFaultsTest, PacedRepliesTakeTheirWireTimeInBothDirections) {
  faults().paceBaud = 115200;
  const SimTime t0 = clock_.now;
  const auto writes = Feed(kFirmwareQuery);
  ASSERT_EQ(writes.size(), kFirmwareReply.size());
  EXPECT_EQ(Concat(writes), kFirmwareReply);
  // Byte i leaves when the request (10 bytes) and reply bytes 0..i would have crossed the line.
  for (std::size_t i = 0; i < writes.size(); ++i) {
    EXPECT_AT(writes[i].at - t0, At115200(10 + static_cast<std::int64_t>(i) + 1)) << "byte " << i;
    EXPECT_FALSE(writes[i].alone);
  }
  // 24 bytes in all: 2.083 ms.
  EXPECT_AT(writes.back().at - t0, At115200(24));
}

TEST_F(WireFaultsTest, PacedExchangesQueueOnTheLine) {
  faults().paceBaud = 115200;
  const SimTime t0 = clock_.now;
  Bytes two = kFirmwareQuery;
  two.insert(two.end(), kFirmwareQuery.begin(), kFirmwareQuery.end());
  const auto writes = Feed(two);
  ASSERT_EQ(writes.size(), 2 * kFirmwareReply.size());
  // The second request is complete after 20 bytes, but the first reply holds
  // the line until byte 24; the second reply follows it.
  EXPECT_AT(writes[13].at - t0, At115200(24));
  EXPECT_AT(writes[14].at - t0, At115200(25));
  EXPECT_AT(writes[27].at - t0, At115200(38));

  // Much later, the line is idle again and only the new exchange counts.
  clock_.Advance(milliseconds(100));
  const auto later = Feed(kFirmwareQuery);
  ASSERT_FALSE(later.empty());
  EXPECT_AT(later.back().at - clock_.now, At115200(24));
}

TEST_F(WireFaultsTest, PacingAddsTheDelayAndKeepsSplitWrites) {
  faults().paceBaud = 9600;
  faults().delay = milliseconds(5);
  faults().split = true;
  const auto writes = Feed(kFirmwareQuery);
  ASSERT_EQ(writes.size(), kFirmwareReply.size());
  EXPECT_TRUE(writes.front().alone);
  // 10 request bytes at 9600 Bd are 10.417 ms, then 5 ms, then the first reply byte.
  EXPECT_EQ(writes.front().at - clock_.now, nanoseconds(10'416'667) + milliseconds(5) + nanoseconds(1'041'667));
}

}  // namespace
}  // namespace varnel::sim::test
