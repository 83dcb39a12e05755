// The port vanishes under the reader and comes back under the same name: the
// reader waits without burning processor time, reopens the port by itself and
// carries on, with nothing from before the loss mixed into what follows.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "link/DeviceLink.h"
#include "link/TrafficDump.h"
#include "platform/Operator.h"
#include "tests/support/ThreadCpu.h"
#include "tests/link/WireFrames.h"
#include "tests/platform/PtyPair.h"
#include "tests/support/SimProcess.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TrafficCapture.h"
#include "tests/support/Wait.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;
using test::PtyPair;
using test::FrameLog;
using test::SeenFrame;
using test::SimProcess;
using test::WireFrame;
using test::WaitUntil;

// A symbolic link that names "the port", re-pointed as a device comes and goes,
// the way a udev name follows a USB adapter.
class PortName {
 public:
  PortName() {
    char dir[] = "/tmp/varnel-replug-XXXXXX";
    if (::mkdtemp(dir)) dir_ = dir;
  }
  ~PortName() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  bool ok() const { return !dir_.empty(); }
  std::string path() const { return dir_ + "/port"; }
  bool PointAt(const std::string& device) {
    const std::string temp = path() + ".new";
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::create_symlink(device, temp, ec);
    if (ec) return false;
    std::filesystem::rename(temp, path(), ec);
    return !ec;
  }
  void Remove() {
    std::error_code ignored;
    std::filesystem::remove(path(), ignored);
  }

 private:
  std::string dir_;
};

class LinkReplugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetTrafficLog(&dump_);
    receiver.SetFrameHandler([this](const LinkFrame& f) { log.Add(f); });
  }
  void TearDown() override {
    link.Stop();
  }

  // How many "SendData" dumps the trace holds.
  std::size_t SendDumps() {
    const std::string text = dump_.Text();
    std::size_t count = 0;
    for (auto at = text.find("[Desc ] SendData"); at != std::string::npos; at = text.find("[Desc ] SendData", at + 1)) {
      ++count;
    }
    return count;
  }

  void SendKeepAlive() {
    LinkFrame keepAlive = MakeRequest(0x7F, {0x01});
    link.SendData(keepAlive);
  }

  test::MessageRecorder boxes;
  FrameReceiver receiver;
  FrameLog log;
  DeviceLink link{receiver, boxes.AsOperator()};

 private:
  test::TrafficCapture dump_;
};

// Keep-alive request as the sensor sees it: BB BB BB BB 01 7F 01 00 01 + crc.
const Bytes kKeepAliveWire{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94};

TEST_F(LinkReplugTest, ReopensTheSameNameDropsTheHalfFrameAndSaysSoOnce) {
  PortName name;
  ASSERT_TRUE(name.ok());
  PtyPair first;
  ASSERT_TRUE(first.ok());
  ASSERT_TRUE(name.PointAt(first.path()));
  ASSERT_TRUE(link.OpenPort(name.path(), 115200));
  link.StartReader();

  // A whole frame, then the start of one announcing 200 payload bytes that never come.
  const Bytes before = WireFrame(0x30, {0x00}, 0xAA);
  const Bytes halfFrame{0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x7F, 0xC8, 0x00, 0x01, 0x02, 0x03};
  ASSERT_TRUE(first.WriteAll(test::Concat({before, halfFrame})));
  ASSERT_TRUE(log.WaitFor(1, 5s));

  testing::internal::CaptureStderr();
  first.CloseMaster();  // the adapter is pulled out; its name still points at the dead device
  ASSERT_TRUE(WaitUntil([&] { return !link.IsOpen(); }, 5s)) << "hang-up not noticed";

  // While the port is gone: frames are dumped, nothing is written, nothing fails
  // loudly, and a second OpenPort does not take the waited-for place.
  const std::size_t dumpsBefore = SendDumps();
  const std::uint64_t sentBefore = link.FramesSent();
  SendKeepAlive();
  EXPECT_EQ(SendDumps(), dumpsBefore + 1);
  EXPECT_EQ(link.FramesSent(), sentBefore);
  PtyPair stranger;
  ASSERT_TRUE(stranger.ok());
  EXPECT_FALSE(link.OpenPort(stranger.path(), 115200));  // its own box and stderr line
  EXPECT_EQ(boxes.Boxes().size(), 1u);
  // Let several reopen attempts fail against the dead device (a stretch of
  // time is what is being tested here, not a wait for an event).
  std::this_thread::sleep_for(4 * DeviceLink::kReopenInterval);
  EXPECT_FALSE(link.IsOpen());

  PtyPair second;
  ASSERT_TRUE(second.ok());
  ASSERT_TRUE(name.PointAt(second.path()));
  ASSERT_TRUE(WaitUntil([&] { return link.IsOpen(); }, 15s)) << "port not reopened";

  // The first frame after the return is delivered at once, not swallowed as the
  // body of the half frame from before.
  const Bytes after = WireFrame(0x7F, {}, 0xAA);
  ASSERT_TRUE(second.WriteAll(after));
  ASSERT_TRUE(log.WaitFor(2, 5s)) << "frame after the return lost";
  const std::vector<SeenFrame> frames = log.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].code, 0x7F);
  EXPECT_TRUE(frames[1].payload.empty());

  // And the way out works again, with the same settings.
  SendKeepAlive();
  EXPECT_EQ(second.ReadExactly(kKeepAliveWire.size(), 5s), kKeepAliveWire);
  EXPECT_EQ(link.FramesSent(), sentBefore + 1);

  const std::string err = testing::internal::GetCapturedStderr();
  const std::string lost = "varnel: lost the port " + name.path() + "; opening it again as soon as it is back\n";
  const std::string back = "varnel: the port " + name.path() + " is back\n";
  EXPECT_NE(err.find(lost), std::string::npos) << err;
  EXPECT_NE(err.find(back), std::string::npos) << err;
  EXPECT_EQ(err.find(lost), err.rfind(lost)) << "one line per attempt:\n" << err;
  EXPECT_EQ(err.find(back), err.rfind(back)) << err;
  EXPECT_EQ(boxes.Boxes().size(), 1u) << "a box for the lost port";
  link.Stop();  // before the ptys go, or their hang-up is reported once more
}

TEST_F(LinkReplugTest, StopWhileThePortIsGoneReturnsPromptly) {
  PortName name;
  ASSERT_TRUE(name.ok());
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(name.PointAt(pty.path()));
  ASSERT_TRUE(link.OpenPort(name.path(), 115200));
  link.StartReader();
  ASSERT_TRUE(WaitUntil([&] { return link.ReaderSystemThreadId() != 0; }, 5s));

  testing::internal::CaptureStderr();
  name.Remove();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !link.IsOpen(); }, 5s));
  const auto asked = Clock::now();
  auto stopped = std::async(std::launch::async, [&] { link.Stop(); });
  ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready) << "Stop() hangs while the port is gone";
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
  RecordProperty("stop_while_gone_ms", static_cast<int>(took.count()));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(link.ReaderSystemThreadId(), 0);

  // The name is free again for a fresh open.
  PtyPair next;
  ASSERT_TRUE(next.ok());
  EXPECT_TRUE(link.OpenPort(next.path(), 115200));
  EXPECT_EQ(boxes.Boxes().size(), 0u);
}

TEST_F(LinkReplugTest, ReaderStartedBeforeAnyPortPicksUpTheOpenedOne) {
  link.StartReader();
  ASSERT_TRUE(WaitUntil([&] { return link.ReaderSystemThreadId() != 0; }, 5s));
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  ASSERT_TRUE(pty.WriteAll(WireFrame(0x7F, {})));
  ASSERT_TRUE(log.WaitFor(1, 5s));
  EXPECT_EQ(log.Frames()[0].code, 0x7F);
}

// The simulated sensor pulls its pseudo-terminal and publishes a new one under
// the same link name, as a USB adapter does when it is plugged in again.
TEST_F(LinkReplugTest, SimulatorUnplugCostsNoProcessorTimeAndReplugResumesTheExchange) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(link.OpenPort(sim.LinkPath(), 115200));
  link.StartReader();
  SendKeepAlive();
  ASSERT_TRUE(log.WaitFor(1, 5s)) << "no keep-alive reply before the unplug";
  EXPECT_EQ(log.Frames()[0].code, 0x7F);
  const long tid = link.ReaderSystemThreadId();
  ASSERT_NE(tid, 0);

  testing::internal::CaptureStderr();
  ASSERT_EQ(sim.Ask("unplug", "ok"), "ok unplug");
  ASSERT_TRUE(WaitUntil([&] { return !link.IsOpen(); }, 5s)) << "hang-up not noticed";

  // About a second with the port gone, keep-alives still going out as the link
  // watch sends them: the reader must sit in its waits.
  const auto cpuBefore = test::ThreadCpuTime(tid);
  ASSERT_TRUE(cpuBefore.has_value());
  const auto windowStart = Clock::now();
  const std::uint64_t sentBefore = link.FramesSent();
  for (int i = 1; i <= 10; ++i) {
    SendKeepAlive();
    std::this_thread::sleep_until(windowStart + i * 100ms);  // paces the measuring window
  }
  const auto cpuAfter = test::ThreadCpuTime(tid);
  ASSERT_TRUE(cpuAfter.has_value()) << "the reader thread ended while the port was gone";
  const double share = test::CpuShare(*cpuBefore, *cpuAfter, Clock::now() - windowStart);
  RecordProperty("reader_cpu_percent_while_gone", std::to_string(share * 100));
  std::printf("reader CPU while the port is gone: %.2f %% of a core\n", share * 100);
  EXPECT_LT(share, 0.02);
  EXPECT_EQ(link.FramesSent(), sentBefore);

  ASSERT_EQ(sim.Ask("replug", "ok"), "ok replug");
  const auto back = Clock::now();
  const std::size_t seen = log.Count();
  // Keep asking until the reopened port carries a reply; the ones sent before the
  // reader has reopened it go nowhere.
  bool answered = false;
  while (!answered && Clock::now() - back < 15s) {  // goal 3 s, recorded below; generous for a loaded machine
    SendKeepAlive();
    answered = log.WaitFor(seen + 1, 50ms);
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - back);
  RecordProperty("replug_to_reply_ms", static_cast<int>(took.count()));
  std::printf("first reply %lld ms after the replug\n", static_cast<long long>(took.count()));
  ASSERT_TRUE(answered) << "no reply within 15 s of the replug";
  EXPECT_EQ(log.Frames()[seen].code, 0x7F);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("varnel: lost the port " + sim.LinkPath()), std::string::npos) << err;
  EXPECT_NE(err.find("varnel: the port " + sim.LinkPath() + " is back"), std::string::npos) << err;
  EXPECT_EQ(boxes.Boxes().size(), 0u);
  link.Stop();  // before the simulator goes, or its hang-up is reported once more
}

}  // namespace
}  // namespace varnel
