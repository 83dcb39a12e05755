// The link over a pseudo-terminal: the test plays the sensor on the master side.
#include "link/DeviceLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>

#include "link/TrafficDump.h"
#include "platform/Operator.h"
#include "tests/link/WireFrames.h"
#include "tests/platform/PtyPair.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TrafficCapture.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Concat;
using test::PtyPair;
using test::FrameLog;
using test::SeenFrame;
using test::WireFrame;

const BoxSeen kOpenFailed{"打开串口失败！", "错误", MessageButtons::Ok, MessageOwner::None};

class DeviceLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PtyPair::kAvailable) GTEST_SKIP() << test::kNoPtyReason;
    ASSERT_TRUE(pty.ok());
    receiver.SetTrafficLog(&dump_);
    link.SetTrafficLog(&dump_);
    receiver.SetFrameHandler([this](const LinkFrame& f) { log.Add(f); });
  }
  void TearDown() override {
    link.Stop();
  }

  std::string Dumped() { return dump_.Text(); }

  PtyPair pty;
  test::MessageRecorder presenter;
  FrameReceiver receiver;
  FrameLog log;
  DeviceLink link{receiver, presenter.AsOperator()};

 private:
  test::TrafficCapture dump_;
};

const std::string kKeepAliveDump =
    "------------------------------------\r\n"
    "[Desc ] SendData\r\n"
    "[HEX-8] (len: 11)\r\n"
    "BB BB BB BB 01 7F 01 00    ........\r\n"
    "01 A2 94                   ...\r\n";

TEST_F(DeviceLinkTest, SentFrameArrivesWholeAfterItsDump) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_TRUE(presenter.Boxes().empty());

  LinkFrame keepAlive = MakeRequest(0x7F, {0x01});
  link.SendData(keepAlive);
  EXPECT_EQ(pty.ReadExactly(11), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94}));
  EXPECT_EQ(keepAlive.crc, 0x94A2);  // the caller's record gets the crc too
  EXPECT_EQ(link.FramesSent(), 1u);
  EXPECT_EQ(Dumped(), kKeepAliveDump);
}

TEST_F(DeviceLinkTest, SendDataWithoutAPortStillDumpsAndWritesNothing) {
  LinkFrame keepAlive = MakeRequest(0x7F, {0x01});
  link.SendData(keepAlive);
  EXPECT_EQ(Dumped(), kKeepAliveDump);
  EXPECT_EQ(link.FramesSent(), 0u);
  EXPECT_FALSE(link.ConfigurePort(115200));
}

TEST_F(DeviceLinkTest, SendDataWithoutAPortDumpsToTheTraceItWasBuiltWith) {
  test::TrafficCapture trace;
  FrameReceiver otherReceiver;
  DeviceLink unopened(otherReceiver, presenter.AsOperator(), &trace);
  LinkFrame identity = MakeRequest(0x01);
  unopened.SendData(identity);
  EXPECT_EQ(trace.Text(),
            "------------------------------------\r\n"
            "[Desc ] SendData\r\n"
            "[HEX-8] (len: 10)\r\n"
            "BB BB BB BB 01 01 00 00    ........\r\n"
            "AE AB                      ..\r\n");
  EXPECT_FALSE(unopened.IsOpen());
  EXPECT_EQ(Dumped(), "");  // nothing reaches the other link's trace
}

TEST_F(DeviceLinkTest, MissingPortFailsWithTheMessageAndALaterValidOneOpens) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort("/dev/varnel-no-such-port", 115200));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "varnel: cannot open /dev/varnel-no-such-port: No such file or directory (absent)\n");
  EXPECT_EQ(Seen(presenter.Boxes()), std::vector<BoxSeen>{kOpenFailed});
  EXPECT_FALSE(link.IsOpen());

  EXPECT_TRUE(link.OpenPort(pty.path(), 115200));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(presenter.Boxes().size(), 1u);
}

TEST_F(DeviceLinkTest, SecondOpenWhileAPortIsOpenFailsAndLeavesItWorking) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  PtyPair other;
  ASSERT_TRUE(other.ok());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort(other.path(), 115200));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Seen(presenter.Boxes()), std::vector<BoxSeen>{kOpenFailed});

  LinkFrame identity = MakeRequest(0x01);
  link.SendData(identity);
  EXPECT_EQ(pty.ReadExactly(10), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}));
}

TEST_F(DeviceLinkTest, PortHeldByAnotherLinkIsRefused) {
  FrameReceiver otherReceiver;
  DeviceLink holder(otherReceiver, presenter.AsOperator());
  ASSERT_TRUE(holder.OpenPort(pty.path(), 115200));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort(pty.path(), 115200));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("busy: another program holds the port"), std::string::npos) << err;
  EXPECT_EQ(Seen(presenter.Boxes()), std::vector<BoxSeen>{kOpenFailed});
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(DeviceLinkTest, ConcurrentSendersNeverInterleaveBytes) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  constexpr int kFramesEach = 150;
  constexpr std::size_t kPayload = 200;
  std::promise<void> go;
  std::shared_future<void> start = go.get_future().share();
  auto sender = [&](std::uint8_t code) {
    return std::async(std::launch::async, [&, code] {
      start.wait();
      for (int i = 0; i < kFramesEach; ++i) {
        LinkFrame frame = MakeRequest(code);
        frame.length = kPayload;
        for (std::size_t p = 0; p < kPayload; ++p) frame.payload[p] = static_cast<std::uint8_t>(code + i);
        link.SendData(frame);
      }
    });
  };
  auto a = sender(0x11);
  auto b = sender(0x22);
  go.set_value();
  const std::size_t frameSize = kPayload + 10;
  const Bytes wire = pty.ReadExactly(2 * kFramesEach * frameSize, 30s);
  a.get();
  b.get();
  ASSERT_EQ(wire.size(), 2 * kFramesEach * frameSize);

  // Walk the wire frame by frame: each must be whole, and each sender's frames in its order.
  int next[256] = {};
  for (std::size_t at = 0; at < wire.size(); at += frameSize) {
    const Bytes frame(wire.begin() + static_cast<std::ptrdiff_t>(at),
                      wire.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
    const std::uint8_t code = frame[5];
    ASSERT_TRUE(code == 0x11 || code == 0x22) << "at " << at;
    const std::uint8_t fill = static_cast<std::uint8_t>(code + next[code]++);
    EXPECT_EQ(frame, WireFrame(code, Bytes(kPayload, fill))) << "at " << at;
  }
  EXPECT_EQ(next[0x11], kFramesEach);
  EXPECT_EQ(next[0x22], kFramesEach);
  EXPECT_EQ(link.FramesSent(), 2u * kFramesEach);
}

TEST_F(DeviceLinkTest, BurstOfFramesIsDeliveredInOrder) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  receiver.SetDumpEnabled(false);
  link.StartReader();
  // 40 frames of 256 bytes: one full read buffer.
  Bytes burst;
  std::vector<SeenFrame> expected;
  for (int i = 0; i < 40; ++i) {
    Bytes payload(246);
    for (std::size_t p = 0; p < payload.size(); ++p) payload[p] = static_cast<std::uint8_t>(i * 3 + p);
    const Bytes wire = WireFrame(static_cast<std::uint8_t>(0x80 + i), payload, i % 2 ? 0xAA : 0xBB, 0x01);
    burst.insert(burst.end(), wire.begin(), wire.end());
    expected.push_back({i % 2 ? 0xAAAAAAAAu : 0xBBBBBBBBu, 0x01, static_cast<std::uint8_t>(0x80 + i), payload,
                        static_cast<std::uint16_t>(wire[254] | wire[255] << 8)});
  }
  ASSERT_EQ(burst.size(), DeviceLink::kReadBufferSize);
  ASSERT_TRUE(pty.WriteAll(burst));
  ASSERT_TRUE(log.WaitFor(expected.size()));
  EXPECT_EQ(log.Frames(), expected);
}

TEST_F(DeviceLinkTest, HandlerMaySendFromTheReaderThread) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  receiver.SetFrameHandler([this](const LinkFrame& reply) {
    LinkFrame next = MakeRequest(static_cast<std::uint8_t>(reply.code + 1));
    link.SendData(next);
  });
  link.StartReader();
  ASSERT_TRUE(pty.WriteAll(WireFrame(0x01, {1, 0, 12}, 0xAA)));
  EXPECT_EQ(pty.ReadExactly(10), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x02, 0x00, 0x00, 0x5E, 0xAB}));
}

TEST_F(DeviceLinkTest, HangUpNeitherKillsNorWedgesTheReader) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  link.StartReader();
  ASSERT_TRUE(pty.WriteAll(WireFrame(0x7F, {})));
  ASSERT_TRUE(log.WaitFor(1));
  pty.CloseMaster();
  // Sending to a vanished device is bounded and harmless.
  LinkFrame identity = MakeRequest(0x01);
  testing::internal::CaptureStderr();
  link.SendData(identity);
  testing::internal::GetCapturedStderr();
  // An orderly stop still works: the reader is joined and the port closed.
  auto stopped = std::async(std::launch::async, [&] { link.Stop(); });
  ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(link.IsOpen());
  link.Stop();  // twice is harmless
}

TEST_F(DeviceLinkTest, StopFromInsideTheHandlerDoesNotDeadlock) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  std::promise<void> handled;
  receiver.SetFrameHandler([&](const LinkFrame&) {
    link.Stop();
    handled.set_value();
  });
  link.StartReader();
  ASSERT_TRUE(pty.WriteAll(WireFrame(0x30, {0})));
  ASSERT_EQ(handled.get_future().wait_for(10s), std::future_status::ready);
  auto stopped = std::async(std::launch::async, [&] { link.Stop(); });
  ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(DeviceLinkTest, ReplyBehindAStrayPreambleByteArrivesWithoutWaitingForMoreBytes) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  link.StartReader();
  // An empty keep-alive reply behind one stray BB, and then the line is quiet.
  ASSERT_TRUE(pty.WriteAll(Concat({{0xBB}, WireFrame(0x7F, {})})));
  // Goal: within about 73 ms of the last byte; without a resynchronisation on
  // silence it would wait for 127 more bytes, which never come.
  ASSERT_TRUE(log.WaitFor(1, 5s));
  EXPECT_EQ(log.Frames()[0].code, 0x7F);
  EXPECT_TRUE(log.Frames()[0].payload.empty());
}

// The port takes nothing (the device side reads nothing and its buffer is
// full) while replies keep coming, and each reply makes the handler send a
// request, as the identity chain does.
TEST_F(DeviceLinkTest, StopDoesNotWaitOnAPortThatTakesNothing) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  testing::internal::CaptureStderr();  // one line per write that gave up
  LinkFrame big = MakeRequest(0x55);
  big.length = 256;
  for (std::uint64_t before = ~0ull; link.FramesSent() != before;) {
    before = link.FramesSent();
    link.SendData(big);  // the last one waits out its bound and leaves part of itself behind
  }
  std::promise<void> entered;
  std::atomic<bool> first{true};
  receiver.SetFrameHandler([&](const LinkFrame&) {
    if (first.exchange(false)) entered.set_value();
    LinkFrame next = MakeRequest(0x02);
    link.SendData(next);
  });
  link.StartReader();
  Bytes replies;
  for (int i = 0; i < 200; ++i) replies = Concat({replies, WireFrame(0x01, {})});
  ASSERT_TRUE(pty.WriteAll(replies));
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
  std::atomic<bool> more{true};
  auto sensor = std::async(std::launch::async, [&] {  // replies keep coming during the stop
    while (more.load()) pty.WriteAll(WireFrame(0x01, {}), 50ms);
  });

  const auto t0 = std::chrono::steady_clock::now();
  auto stopped = std::async(std::launch::async, [&] { link.Stop(); });
  // Goal: under a second. Without it, one write bound per buffered reply (200 s).
  const bool done = stopped.wait_for(20s) == std::future_status::ready;
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  more.store(false);
  sensor.wait();
  if (!done) pty.CloseMaster();  // frees the old code's writes so the test can end
  stopped.wait();
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(done) << "Stop() still waiting after 20 s";
  ::testing::Test::RecordProperty("stop_with_wedged_port_ms", static_cast<int>(took.count()));
  std::printf("link Stop with a port that takes nothing: %lld ms\n", static_cast<long long>(took.count()));
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(DeviceLinkTest, StopWithoutAReaderClosesThePortForOthers) {
  ASSERT_TRUE(link.OpenPort(pty.path(), 115200));
  link.Stop();
  EXPECT_FALSE(link.IsOpen());
  FrameReceiver otherReceiver;
  DeviceLink next(otherReceiver, presenter.AsOperator());
  EXPECT_TRUE(next.OpenPort(pty.path(), 115200));
}

}  // namespace
}  // namespace varnel
