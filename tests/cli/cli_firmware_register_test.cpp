// varnel-cli firmware on several simulated sensors at once, and register with
// its ledger.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/cli/CliRun.h"
#include "tests/support/SimProcess.h"

namespace varnel::test {
namespace {

using nlohmann::json;

std::string Image(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return image;
}

TEST(CliFirmware, EachPortEndsOnItsOwnAndTheSummaryListsThemAll) {
  ScratchFolder folder;
  const std::string image = Image(3000);
  const auto file = folder.Write("Rfid_v2.bin", image);
  SimProcess good({"--image-out", (folder.Path() / "received.bin").string()});
  SimProcess refusing({"--ota-status", "3"});
  ASSERT_TRUE(good.Started() && refusing.Started());

  const CliResult run = RunCli({"firmware", "--port", good.LinkPath(), "--port", refusing.LinkPath(),
                                "--port", "/dev/varnel-no-such-port", file.string(), "--json"});
  ASSERT_TRUE(run.ended);
  // The first port that failed, in the order given: the refusing sensor.
  EXPECT_EQ(run.code, 5) << run.err;
  const json summary = json::parse(run.out);
  ASSERT_EQ(summary["ports"].size(), 3u);
  EXPECT_EQ(summary["ports"][0]["result"], "ok");
  EXPECT_EQ(summary["ports"][1]["exit_code"], 5);
  EXPECT_EQ(summary["ports"][1]["status"], 3);
  EXPECT_EQ(summary["ports"][2]["exit_code"], 3);
  EXPECT_EQ(folder.Read("received.bin"), image);
  // Not a terminal: plain progress lines, the last one per port its ending.
  EXPECT_NE(run.err.find(good.LinkPath() + ": ok\n"), std::string::npos) << run.err;
}

TEST(CliFirmware, BadImageIsRefusedBeforeAnythingIsSent) {
  ScratchFolder folder;
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const auto wrongName = folder.Write("image.bin", Image(300));
  const CliResult named = RunCli({"firmware", "--port", sim.LinkPath(), wrongName.string()});
  EXPECT_EQ(named.code, 2);
  EXPECT_NE(named.err.find("不是有效的MCU固件"), std::string::npos) << named.err;
  const auto empty = folder.Write("Rfid.bin", "");
  const CliResult nothing = RunCli({"firmware", "--port", sim.LinkPath(), empty.string()});
  EXPECT_EQ(nothing.code, 2);
  EXPECT_NE(nothing.err.find("MCU固件文件为空"), std::string::npos) << nothing.err;
  EXPECT_EQ(sim.FramesSeen(), 0u);
}

TEST(CliFirmware, SilentSensorIsNoAnswerAndTheBeginIsNotRepeated) {
  ScratchFolder folder;
  SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Started());
  const auto file = folder.Write("Rfid.bin", Image(600));
  const CliResult run = RunCli({"firmware", "--port", sim.LinkPath(), file.string(), "--timeout", "300"});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.code, 4) << run.err;
  EXPECT_TRUE(WaitUntil([&] { return sim.RequestsOf(0xF0) >= 1; }, std::chrono::seconds(5),
                        std::chrono::milliseconds(20)));
  EXPECT_EQ(sim.RequestsOf(0xF0), 1u);
  EXPECT_EQ(sim.RequestsOf(0xF1), 0u);
}

TEST(CliRegister, SecondRegistrationOfOneNumberIsRefused) {
  ScratchFolder folder;
  const auto ledger = folder.Write("Tallis.ini", "[DID]\r\n");
  SimProcess sim;
  ASSERT_TRUE(sim.Started());

  const CliResult first = RunCli({"register", "--port", sim.LinkPath(), "--text", "A0001", "--ledger",
                                  ledger.string(), "--json"});
  ASSERT_EQ(first.code, 0) << first.err;
  const json answer = json::parse(first.out);
  const std::string serial = answer["serial_number"];
  EXPECT_EQ(serial.substr(2), "-" + serial.substr(3, 2) + "-A0001");
  EXPECT_TRUE(sim.WaitForState([&](const auto& s) { return s.at("sn") == serial; }));

  const CliResult second = RunCli({"register", "--port", sim.LinkPath(), "--text", "a0001", "--ledger",
                                   ledger.string()});
  EXPECT_EQ(second.code, 6);
  EXPECT_NE(second.err.find("的记录已经存在"), std::string::npos) << second.err;
  EXPECT_EQ(sim.RequestsOf(0xEF), 1u);
  const std::string text = folder.Read("Tallis.ini");
  EXPECT_EQ(text.find(serial), text.rfind(serial)) << text;  // recorded once
}

TEST(CliRegister, TextTheLedgerWouldRefuseIsTurnedAwayUpFront) {
  ScratchFolder folder;
  const auto ledger = folder.Write("Tallis.ini", "[DID]\r\n");
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const CliResult equals = RunCli({"register", "--port", sim.LinkPath(), "--text", "A=1", "--ledger", ledger.string()});
  EXPECT_EQ(equals.code, 2);
  EXPECT_NE(equals.err.find("无法记入Tallis.ini"), std::string::npos) << equals.err;
  const CliResult missing = RunCli({"register", "--port", sim.LinkPath(), "--text", "A1", "--ledger",
                                    (folder.Path() / "none.ini").string()});
  EXPECT_EQ(missing.code, 6);
  EXPECT_EQ(sim.FramesSeen(), 0u);
  EXPECT_EQ(folder.Read("Tallis.ini"), "[DID]\r\n");
}

}  // namespace
}  // namespace varnel::test
