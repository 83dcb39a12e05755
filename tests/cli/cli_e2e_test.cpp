// varnel-cli against the simulated sensor: reading, setting, control and cards.
// Each test runs the real program to its end and checks its exit code, its
// output and what reached the sensor.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include "tests/cli/CliRun.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"

namespace varnel::test {
namespace {

using nlohmann::json;

TEST(CliDevice, InfoReadsIdentityAndSettingsThroughNoiseAndSplitReplies) {
  SimProcess sim({"--sn", "24 3 A17", "--firmware", "1.2.3", "--noise", "7", "--split"});
  ASSERT_TRUE(sim.Started());
  sim.Ask("set canid 0x1ABCDEF0", "ok");
  sim.Ask("set frame 1", "ok");

  const CliResult run = RunCli({"info", "--port", sim.LinkPath(), "--json"});
  ASSERT_TRUE(run.ended);
  ASSERT_EQ(run.code, 0) << run.err;
  const json info = json::parse(run.out);
  EXPECT_EQ(info["firmware"], "V1.2.3");
  EXPECT_EQ(info["hardware"], "V2.1.0");
  EXPECT_EQ(info["serial_number"], "24-03-A17");
  EXPECT_EQ(info["serial"]["address"], "0x01");
  EXPECT_EQ(info["serial"]["baud"], "115200");
  EXPECT_EQ(info["can"]["id"], "0x1ABCDEF0");
  EXPECT_EQ(info["can"]["frame"], "ext");
  EXPECT_EQ(info["can"]["rate"], "500Kbps");
}

TEST(CliDevice, SilentSensorIsNoAnswerAfterTheBoundedRetries) {
  SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Started());
  const CliResult run = RunCli({"info", "--port", sim.LinkPath(), "--timeout", "200", "--retries", "1"});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.code, 4) << run.err;
  EXPECT_NE(run.err.find("did not answer within 200 ms"), std::string::npos) << run.err;
  // Asked once and once again, never more (the program has ended: the count is final
  // once the simulator has read everything it wrote).
  EXPECT_TRUE(WaitUntil([&] { return sim.RequestsOf(0x01) >= 2; }, std::chrono::seconds(5),
                        std::chrono::milliseconds(20)));
  EXPECT_EQ(sim.RequestsOf(0x01), 2u);
}

TEST(CliDevice, SettingPutsTheDialogsBytesOnTheWireAndReportsTheStatus) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const CliResult run = RunCli({"set", "--port", sim.LinkPath(), "canid", "0x100", "--dump"});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("设置成功 (status 0)"), std::string::npos) << run.out;
  // BB BB BB BB 01 92 05 00 | 00 01 00 00 00 D4 79, as the traffic dump prints it.
  EXPECT_NE(run.err.find("BB BB BB BB 01 92 05 00    ........\r\n00 01 00 00 00 D4 79 "), std::string::npos)
      << run.err;

  const CliResult rate = RunCli({"set", "--port", sim.LinkPath(), "canrate", "125K"});
  EXPECT_EQ(rate.code, 0) << rate.err;
  EXPECT_TRUE(sim.WaitForState([](const auto& s) { return s.at("canid") == "0x100" && s.at("rate") == "5"; }));
}

TEST(CliDevice, RefusedWriteGivesTheRefusedCodeWithTheStatus) {
  SimProcess sim({"--status", "3"});
  ASSERT_TRUE(sim.Started());
  const CliResult run = RunCli({"set", "--port", sim.LinkPath(), "address", "0x21", "--json"});
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.code, 5) << run.err;
  const json answer = json::parse(run.out);
  EXPECT_EQ(answer["status"], 3);
  EXPECT_EQ(answer["text"], "校验失败");
}

TEST(CliDevice, BadInputIsRefusedWithTheDialogsWordsAndNothingIsSent) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const CliResult address = RunCli({"set", "--port", sim.LinkPath(), "address", "0x100"});
  EXPECT_EQ(address.code, 2);
  EXPECT_NE(address.err.find("请输入0x00-0xFF之间的16进制数"), std::string::npos) << address.err;
  const CliResult canid = RunCli({"set", "--port", sim.LinkPath(), "canid", "0x5A1"});
  EXPECT_EQ(canid.code, 2);
  EXPECT_NE(canid.err.find("请输入0x00-0x7F0之间的16进制数"), std::string::npos) << canid.err;
  const CliResult restart = RunCli({"restart", "--port", sim.LinkPath()});
  EXPECT_EQ(restart.code, 2);
  EXPECT_NE(restart.err.find("--yes"), std::string::npos) << restart.err;
  EXPECT_EQ(sim.FramesSeen(), 0u);

  const CliResult confirmed = RunCli({"save", "--port", sim.LinkPath(), "--yes"});
  EXPECT_EQ(confirmed.code, 0) << confirmed.err;
  EXPECT_EQ(sim.RequestsOf(0xA1), 1u);
}

TEST(CliDevice, PortThatCannotBeOpenedSaysWhy) {
  const CliResult run = RunCli({"info", "--port", "/dev/varnel-no-such-port"});
  EXPECT_EQ(run.code, 3);
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
}

TEST(CliDevice, CardReadingsAndPortListing) {
  SimProcess sim({"--card", "1 305"});
  ASSERT_TRUE(sim.Started());
  const CliResult cards = RunCli({"card", "--port", sim.LinkPath(), "--count", "3"});
  ASSERT_TRUE(cards.ended);
  EXPECT_EQ(cards.code, 0) << cards.err;
  const std::string line = sim.LinkPath() + ": 305\n";
  EXPECT_EQ(cards.out, line + line + line);

  const CliResult ports = RunCli({"ports", "--json"});
  EXPECT_EQ(ports.code, 0);
  const json listed = json::parse(ports.out)["ports"];
  EXPECT_NE(std::find(listed.begin(), listed.end(), sim.LinkPath()), listed.end()) << ports.out;
}

TEST(CliDevice, WatchFollowsTheCardUntilStopped) {
  SimProcess sim({"--card", "1 305"});
  ASSERT_TRUE(sim.Started());
  ScratchFolder folder;
  ChildOptions options;
  options.args = {VARNEL_CLI_EXECUTABLE, "card", "--port", sim.LinkPath(), "--watch", "--json"};
  options.files = {{STDOUT_FILENO, (folder.Path() / "out").string()}};
  ChildProcess watch(std::move(options));
  ASSERT_TRUE(WaitUntil([&] { return folder.Read("out").find("\"number\":305") != std::string::npos; },
                        std::chrono::seconds(10), std::chrono::milliseconds(20)));
  sim.Ask("card 0", "ok");
  ASSERT_TRUE(WaitUntil([&] { return folder.Read("out").find("\"card\":\"无卡\"") != std::string::npos; },
                        std::chrono::seconds(10), std::chrono::milliseconds(20)));
  // A stop request ends the watch as a success, the port released.
  ASSERT_TRUE(watch.Terminate(std::chrono::seconds(10)));
  EXPECT_FALSE(watch.Signalled());
  EXPECT_EQ(watch.ExitCode(), 0);
}

}  // namespace
}  // namespace varnel::test
