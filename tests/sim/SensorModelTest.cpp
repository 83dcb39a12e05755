// The sensor model driven frame by frame: every request of the command set
// gets its documented reply, writes are checked and applied, and the
// configuration is saved, reset and restored across a restart.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/SensorModel.h"
#include "tests/sim/SimTestSupport.h"

namespace varnel::sim::test {
namespace {

class SensorModelTest : public ::testing::Test {
 protected:
  // The sensor's answer as the host reads it, or nullopt when it says nothing.
  std::optional<Decoded> Ask(const LinkFrame& request) {
    const Bytes wire = model_.Handle(request);
    if (wire.empty()) return std::nullopt;
    HostView view = ReadAsHost(wire);
    EXPECT_EQ(view.frames.size(), 1u) << "one reply per request";
    EXPECT_EQ(view.rejected, 0u);
    if (view.frames.empty()) return Decoded{};
    return view.frames.front();
  }
  Bytes Payload(std::uint8_t code, std::initializer_list<std::uint8_t> payload = {}) {
    const auto reply = Ask(Request(code, payload));
    EXPECT_TRUE(reply.has_value()) << "no reply to 0x" << std::hex << int(code);
    if (!reply) return {};
    EXPECT_EQ(reply->code, code) << "a reply carries the code of its request";
    return reply->payload;
  }
  std::uint8_t WriteStatus(std::uint8_t code, std::initializer_list<std::uint8_t> payload) {
    const Bytes p = Payload(code, payload);
    EXPECT_EQ(p.size(), 1u) << "a status reply carries one byte";
    return p.empty() ? 0xEE : p[0];
  }

  ManualClock clock_;
  SensorModel model_{clock_.Get()};
};

TEST_F(SensorModelTest, ReadRequestsGetTheirDocumentedReplies) {
  EXPECT_EQ(Payload(0x01), (Bytes{0x00, 1, 0, 12}));
  EXPECT_EQ(Payload(0x02), (Bytes{0x00, 2, 1, 0}));
  EXPECT_EQ(Payload(0x03), (Bytes{24, 3, 'S', 'I', 'M', '0', '0', '0', '1', 0}));
  EXPECT_EQ(Payload(0x10), (Bytes{0x01}));
  EXPECT_EQ(Payload(0x11), (Bytes{0x01}));
  EXPECT_EQ(Payload(0x12), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Payload(0x13), (Bytes{0x03}));
  EXPECT_EQ(Payload(0x30), (Bytes{0, 0, 0, 0, 0}));
  // The keep-alive is a data reply (bit 7 clear).
  EXPECT_EQ(Payload(0x7F, {0x01}), (Bytes{0x01}));
}

TEST_F(SensorModelTest, RepliesAreWholeFramesWithTheHostsHeader) {
  EXPECT_EQ(model_.Handle(Request(0x01)),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x04, 0x00, 0x00, 0x01, 0x00, 0x0C, 0x01, 0x49}));
  EXPECT_EQ(model_.Handle(Request(0x10)), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x10, 0x01, 0x00, 0x01, 0xBF, 0x80}));
  // Baud code 0 is refused: status 1.
  EXPECT_EQ(model_.Handle(Request(0x91, {0x00})),
            (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x91, 0x01, 0x00, 0x01, 0x97, 0xBC}));
}

TEST_F(SensorModelTest, UnknownReadsAreNotAnsweredButCounted) {
  EXPECT_FALSE(Ask(Request(0x05)).has_value());
  EXPECT_FALSE(Ask(Request(0x00)).has_value());
  EXPECT_EQ(model_.counts().unknown, 2u);
  EXPECT_EQ(model_.counts().received[0x05], 1u);
}

TEST_F(SensorModelTest, ValidWritesAreAppliedAndReadBack) {
  EXPECT_EQ(WriteStatus(0x90, {0x7E}), 0);
  EXPECT_EQ(Payload(0x10), (Bytes{0x7E}));
  EXPECT_EQ(WriteStatus(0x91, {0x05}), 0);
  EXPECT_EQ(Payload(0x11), (Bytes{0x05}));
  // CAN node ID 0x100 as an extended identifier.
  EXPECT_EQ(WriteStatus(0x92, {0x00, 0x01, 0x00, 0x00, 0x01}), 0);
  EXPECT_EQ(Payload(0x12), (Bytes{0x00, 0x01, 0x00, 0x00, 0x01}));
  EXPECT_EQ(WriteStatus(0x93, {0x01}), 0);
  EXPECT_EQ(Payload(0x13), (Bytes{0x01}));
  EXPECT_EQ(WriteStatus(0xA0, {0x02}), 0);
  EXPECT_EQ(model_.running().outputMode, 2);
}

TEST_F(SensorModelTest, WritesAtTheEdgesOfTheirRangesAreApplied) {
  EXPECT_EQ(WriteStatus(0x90, {0x00}), 0);
  EXPECT_EQ(WriteStatus(0x90, {0xFF}), 0);
  EXPECT_EQ(WriteStatus(0x91, {0x01}), 0);
  EXPECT_EQ(WriteStatus(0x93, {0x05}), 0);
  EXPECT_EQ(WriteStatus(0x92, {0xFF, 0x07, 0x00, 0x00, 0x00}), 0);  // StdId 0x7FF
  EXPECT_EQ(Payload(0x12), (Bytes{0xFF, 0x07, 0x00, 0x00, 0x00}));
  EXPECT_EQ(WriteStatus(0x92, {0xFF, 0xFF, 0xFF, 0x1F, 0x01}), 0);  // ExdId 0x1FFFFFFF
  EXPECT_EQ(Payload(0x12), (Bytes{0xFF, 0xFF, 0xFF, 0x1F, 0x01}));
  EXPECT_EQ(WriteStatus(0xA0, {0x01}), 0);
}

TEST_F(SensorModelTest, InvalidWritesGetStatusOneAndChangeNothing) {
  struct Case {
    const char* what;
    std::uint8_t code;
    Bytes payload;
  };
  const Case cases[] = {
      {"baud code 0", 0x91, {0x00}},
      {"baud code 6", 0x91, {0x06}},
      {"rate code 0", 0x93, {0x00}},
      {"rate code 6", 0x93, {0x06}},
      {"frame type 2", 0x92, {0x00, 0x01, 0x00, 0x00, 0x02}},
      {"StdId 0x800", 0x92, {0x00, 0x08, 0x00, 0x00, 0x00}},
      {"ExdId 0x20000000", 0x92, {0x00, 0x00, 0x00, 0x20, 0x01}},
      {"CAN ID payload too short", 0x92, {0x00, 0x01, 0x00, 0x00}},
      {"output mode 0", 0xA0, {0x00}},
      {"output mode 3", 0xA0, {0x03}},
      {"node address without a value", 0x90, {}},
      {"save with argument 0", 0xA1, {0x00}},
      {"registration without marker", 0xEF, Bytes(38, 0x00)},
      {"serial number written with 0x83", 0x83, {0x01}},
  };
  const SensorConfig before = model_.running();
  const SerialNumber serialBefore = model_.identity().serial;
  for (const Case& c : cases) {
    const auto reply = Ask(Request(c.code, c.payload));
    ASSERT_TRUE(reply.has_value()) << c.what;
    EXPECT_EQ(reply->code, c.code) << c.what;
    EXPECT_EQ(reply->payload, Bytes{0x01}) << c.what;
  }
  EXPECT_EQ(model_.running(), before);
  EXPECT_EQ(model_.saved(), before);
  EXPECT_EQ(model_.identity().serial.text, serialBefore.text);
  EXPECT_FALSE(model_.Restarting());
}

TEST_F(SensorModelTest, AForcedStatusIsAnsweredAndTheWriteIsNotApplied) {
  for (std::uint8_t forced : {1, 2, 3, 7}) {
    model_.SetForcedWriteStatus(forced);
    EXPECT_EQ(WriteStatus(0x91, {0x02}), forced);
    EXPECT_EQ(WriteStatus(0xA3, {0x01}), forced);
    EXPECT_EQ(Payload(0x11), (Bytes{0x01})) << "status " << int(forced);
    EXPECT_FALSE(model_.Restarting()) << "a refused restart does not restart";
  }
  model_.SetForcedWriteStatus(std::nullopt);
  EXPECT_EQ(WriteStatus(0x91, {0x02}), 0);
  EXPECT_EQ(Payload(0x11), (Bytes{0x02}));
}

TEST_F(SensorModelTest, SaveFactoryResetAndRestartKeepTheSavedConfiguration) {
  ASSERT_EQ(WriteStatus(0x91, {0x04}), 0);
  ASSERT_EQ(WriteStatus(0x93, {0x05}), 0);
  ASSERT_EQ(WriteStatus(0xA1, {0x01}), 0);  // saved: baud 4, rate 5
  ASSERT_EQ(WriteStatus(0x91, {0x02}), 0);  // running only

  // A factory reset brings the factory values into the running configuration.
  ASSERT_EQ(WriteStatus(0xA2, {0x01}), 0);
  EXPECT_EQ(Payload(0x11), (Bytes{0x01}));
  EXPECT_EQ(Payload(0x13), (Bytes{0x03}));
  EXPECT_EQ(Payload(0x12), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00}));

  // The restart is acknowledged, then nothing is answered for the silence.
  model_.SetRestartSilence(std::chrono::milliseconds(1500));
  ASSERT_EQ(WriteStatus(0xA3, {0x01}), 0);
  EXPECT_TRUE(model_.Restarting());
  EXPECT_FALSE(Ask(Request(0x01)).has_value());
  clock_.Advance(std::chrono::milliseconds(1499));
  EXPECT_FALSE(Ask(Request(0x7F, {0x01})).has_value());
  EXPECT_FALSE(Ask(Request(0x91, {0x03})).has_value()) << "writes are not taken while restarting";
  EXPECT_EQ(model_.counts().ignoredWhileRestarting, 3u);

  clock_.Advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(model_.Restarting());
  EXPECT_EQ(Payload(0x11), (Bytes{0x04}));
  EXPECT_EQ(Payload(0x13), (Bytes{0x05}));
  EXPECT_EQ(Payload(0x7F, {0x01}), (Bytes{0x01}));
}

TEST_F(SensorModelTest, RegistrationReplacesTheSerialNumber) {
  Bytes payload = {0xFE, 0xFE, 0xFE, 0xFE, 0x18, 0x03, 'A', '1', '7'};
  payload.resize(38, 0x00);
  const auto reply = Ask(Request(0xEF, payload));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->code, 0xEF);
  EXPECT_EQ(reply->payload, Bytes{0x00});
  EXPECT_EQ(Payload(0x03), (Bytes{0x18, 0x03, 'A', '1', '7', 0x00}));

  // A text that fills all 32 bytes comes back whole, terminated.
  Bytes full = {0xFE, 0xFE, 0xFE, 0xFE, 0x05, 0x0C};
  for (int i = 0; i < 32; ++i) full.push_back(static_cast<std::uint8_t>('A' + i % 26));
  ASSERT_EQ(Ask(Request(0xEF, full))->payload, Bytes{0x00});
  const Bytes serial = Payload(0x03);
  ASSERT_EQ(serial.size(), 2u + 32u + 1u);
  EXPECT_EQ(serial[0], 0x05);
  EXPECT_EQ(serial[1], 0x0C);
  EXPECT_EQ(serial[2], 'A');
  EXPECT_EQ(serial[33], 'F');
  EXPECT_EQ(serial[34], 0x00);

  // Month 13 is refused and leaves the last registration.
  Bytes bad = full;
  bad[5] = 13;
  EXPECT_EQ(Ask(Request(0xEF, bad))->payload, Bytes{0x01});
  EXPECT_EQ(Payload(0x03), serial);
}

TEST_F(SensorModelTest, CardReadsFollowTheScript) {
  model_.SetCard(CardScript::Fixed(1, 305));
  EXPECT_EQ(Payload(0x30), (Bytes{0x01, 0x31, 0x01, 0x00, 0x00}));
  model_.SetCard(CardScript::Fixed(1, 0x80000001u));
  EXPECT_EQ(Payload(0x30), (Bytes{0x01, 0x01, 0x00, 0x00, 0x80}));
  model_.SetCard(CardScript::None());
  EXPECT_EQ(Payload(0x30), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00}));

  using std::chrono::milliseconds;
  model_.SetCard(CardScript::Cycle(305, milliseconds(500), milliseconds(300), clock_.now));
  const Bytes present = {0x01, 0x31, 0x01, 0x00, 0x00};
  const Bytes absent = {0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Payload(0x30), present);
  clock_.Advance(milliseconds(499));
  EXPECT_EQ(Payload(0x30), present);
  clock_.Advance(milliseconds(1));
  EXPECT_EQ(Payload(0x30), absent);
  clock_.Advance(milliseconds(299));
  EXPECT_EQ(Payload(0x30), absent);
  clock_.Advance(milliseconds(1));
  EXPECT_EQ(Payload(0x30), present) << "the second period begins at 800 ms";
  EXPECT_EQ(model_.counts().received[0x30], 8u);
  EXPECT_EQ(model_.counts().answered[0x30], 8u);
}

}  // namespace
}  // namespace varnel::sim::test
