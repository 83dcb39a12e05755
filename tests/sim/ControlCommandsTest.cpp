// The control lines change what they name, and nothing when they are not understood.
#include <gtest/gtest.h>

#include <string>

#include "sim/ControlCommands.h"
#include "tests/sim/SimTestSupport.h"

namespace varnel::sim::test {
namespace {

class ControlCommandsTest : public ::testing::Test {
 protected:
  CommandResult Run(const std::string& line) { return RunCommand(sensor_, line); }
  Bytes Ask(std::uint8_t code, std::initializer_list<std::uint8_t> payload = {}) {
    const Bytes wire = Wire(Request(code, payload));
    return Concat(sensor_.Feed(wire.data(), wire.size(), clock_.now));
  }
  Bytes AskPayload(std::uint8_t code) {
    const HostView view = ReadAsHost(Ask(code));
    return view.frames.empty() ? Bytes{} : view.frames[0].payload;
  }

  ManualClock clock_;
  SimSensor sensor_{clock_.Get()};
};

TEST_F(ControlCommandsTest, CardCommandsScriptTheCardReply) {
  EXPECT_EQ(Run("card 1 305").output, "ok card 1 305");
  EXPECT_EQ(AskPayload(0x30), (Bytes{0x01, 0x31, 0x01, 0x00, 0x00}));
  EXPECT_TRUE(Run("card 1 0xDEADBEEF").ok);
  EXPECT_EQ(AskPayload(0x30), (Bytes{0x01, 0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_TRUE(Run("card 0").ok);
  EXPECT_EQ(AskPayload(0x30), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(Run("card cycle 305 100 50").ok);
  EXPECT_EQ(AskPayload(0x30)[0], 0x01);
  clock_.Advance(std::chrono::milliseconds(120));
  EXPECT_EQ(AskPayload(0x30)[0], 0x00);
  EXPECT_TRUE(Run("card none").ok);
  EXPECT_EQ(AskPayload(0x30)[0], 0x00);
}

TEST_F(ControlCommandsTest, StatusAndRestartCommandsReachTheSensor) {
  EXPECT_TRUE(Run("status 7").ok);
  EXPECT_EQ(ReadAsHost(Ask(0x91, {0x02})).frames.at(0).payload, Bytes{0x07});
  EXPECT_TRUE(Run("status auto").ok);
  EXPECT_EQ(ReadAsHost(Ask(0x91, {0x02})).frames.at(0).payload, Bytes{0x00});
  EXPECT_TRUE(Run("ota-status 2").ok);
  EXPECT_EQ(ReadAsHost(Ask(0xF0, {0x00})).frames.at(0).payload, Bytes{0x02});

  EXPECT_TRUE(Run("restart-silence 300").ok);
  EXPECT_TRUE(Run("restart").ok);
  EXPECT_TRUE(Ask(0x11).empty());
  clock_.Advance(std::chrono::milliseconds(300));
  EXPECT_EQ(AskPayload(0x11), Bytes{0x01}) << "back with the saved baud code";
}

TEST_F(ControlCommandsTest, IdentityAndRawSettingCommands) {
  EXPECT_TRUE(Run("firmware 255.255.255").ok);
  EXPECT_EQ(AskPayload(0x01), (Bytes{0x00, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(Run("hardware 3.0.1").ok);
  EXPECT_EQ(AskPayload(0x02), (Bytes{0x00, 3, 0, 1}));
  EXPECT_TRUE(Run("sn 5 7").ok);
  EXPECT_EQ(AskPayload(0x03), (Bytes{5, 7, 0}));
  EXPECT_TRUE(Run("sn 24 3 A17 B").ok);
  EXPECT_EQ(AskPayload(0x03), (Bytes{24, 3, 'A', '1', '7', ' ', 'B', 0}));
  EXPECT_TRUE(Run("set baud 9").ok);  // out of range on purpose: set does not check
  EXPECT_EQ(AskPayload(0x11), Bytes{0x09});
  EXPECT_TRUE(Run("set canid 0x1FFFFFFF").ok);
  EXPECT_TRUE(Run("set frame 1").ok);
  EXPECT_EQ(AskPayload(0x12), (Bytes{0xFF, 0xFF, 0xFF, 0x1F, 0x01}));
}

TEST_F(ControlCommandsTest, QueriesAnswerOneLine) {
  Ask(0x30);
  Ask(0x30);
  const CommandResult stats = Run("stats");
  EXPECT_EQ(stats.output.rfind("stats ", 0), 0u);
  EXPECT_EQ(stats.output.find('\n'), std::string::npos);
  EXPECT_NE(stats.output.find("card-reads=2"), std::string::npos);
  EXPECT_NE(stats.output.find("30:2"), std::string::npos);
  const CommandResult state = Run("state");
  EXPECT_EQ(state.output.rfind("state ", 0), 0u);
  EXPECT_NE(state.output.find("baud=1"), std::string::npos);
  EXPECT_NE(state.output.find("sn=24-03-SIM0001"), std::string::npos);
}

TEST_F(ControlCommandsTest, BadLinesChangeNothingAndSayWhy) {
  const std::string before = sensor_.StateLine();
  const FaultSettings faults = sensor_.shaper().settings();
  for (const char* line : {"frobnicate", "card", "card 1", "card x 5", "card cycle 305 0 0", "card 1 4294967296",
                           "silent maybe", "drop -1", "drop", "corrupt some", "noise 100000", "preamble cc",
                           "delay soon", "pace fast", "status 256", "status", "ota-status x", "restart now",
                           "restart-silence", "firmware 1.2", "firmware 1.2.300", "sn 24", "set colour 3",
                           "set baud 256", "stats please", "image-out", "quit now"}) {
    const CommandResult r = Run(line);
    EXPECT_FALSE(r.ok) << line;
    EXPECT_TRUE(r.output.empty()) << line;
    EXPECT_EQ(r.action, ToolAction::None) << line;
    EXPECT_EQ(r.error.rfind("error: ", 0), 0u) << line;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << line;
  }
  EXPECT_NE(Run("frobnicate").error.find("frobnicate"), std::string::npos);
  EXPECT_EQ(sensor_.StateLine(), before);
  EXPECT_EQ(sensor_.shaper().settings().dropEvery, faults.dropEvery);
  EXPECT_EQ(sensor_.shaper().settings().silent, faults.silent);
  EXPECT_EQ(sensor_.model().forcedWriteStatus(), std::nullopt);
  EXPECT_EQ(AskPayload(0x30), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace varnel::sim::test
