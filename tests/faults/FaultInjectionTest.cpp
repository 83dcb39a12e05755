// The session and the link over a real pseudo-terminal against the simulated
// sensor, with one wire fault switched on per case: whatever the line does to
// the replies, every value that reaches the windows is the sensor's own. A lost
// reply may stall the identity chain until the link watch restarts it, and a
// lost card reply costs the card poll one deadline, but nothing wrong is shown.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>

#include "link/DeviceLink.h"
#include "link/TrafficDump.h"
#include "protocol/DeviceSession.h"
#include "tests/faults/FaultTruth.h"
#include "tests/protocol/Recorders.h"
#include "tests/protocol/SimPtyHarness.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

namespace varnel::test {
namespace {

using std::chrono::steady_clock;

struct FaultCase {
  std::string name;
  sim::FaultSettings faults;
  bool losesReplies;  // dropped or corrupted replies: the chain may stall
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

sim::FaultSettings Faults(void (*set)(sim::FaultSettings&)) {
  sim::FaultSettings f;
  set(f);
  return f;
}

std::vector<FaultCase> Cases() {
  return {
      {"NoiseBeforeReplies", Faults([](sim::FaultSettings& f) { f.noiseBytes = 9; }), false},
      {"RepliesSplitIntoSingleBytes", Faults([](sim::FaultSettings& f) { f.split = true; }), false},
      {"AaPreamble", Faults([](sim::FaultSettings& f) { f.preambleAA = true; }), false},
      {"Every5thReplyDropped", Faults([](sim::FaultSettings& f) { f.dropEvery = 5; }), true},
      {"Every3rdCrcCorrupted", Faults([](sim::FaultSettings& f) { f.corruptEvery = 3; }), true},
      {"AllAtOnce", Faults([](sim::FaultSettings& f) {
         f.noiseBytes = 5;
         f.split = true;
         f.preambleAA = true;
         f.dropEvery = 7;
         f.corruptEvery = 4;
       }),
       true},
  };
}

bool IsChainValue(std::uint8_t q) {
  switch (q) {
    case 0: case 0x01: case 0x02: case 0x03: case 0x10: case 0x11: case 0x12: case 0x13: case 0x30:
      return true;
    default:
      return false;
  }
}

class FaultInjection : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    sensor.WithSensor([&](sim::SimSensor& s) {
      truth.ApplyTo(s);
      s.shaper().settings() = GetParam().faults;
      return 0;
    });
    std::string problem;
    ASSERT_TRUE(sensor.Start(&problem)) << problem;
    ASSERT_TRUE(link.OpenPort(sensor.PortPath(), 115200));
    poster.Watch(&session.Settings());
    // The dispatcher as StartLink installs it (without its 500 ms wait), behind
    // a look at each good frame.
    receiver.SetFrameHandler([this](const LinkFrame& f) {
      (f.preamble == 0xAAAAAAAAu ? aaFrames_ : bbFrames_).fetch_add(1);
      session.DispatchReply(f);
      if (!IsChainValue(session.NextQuery())) badNextQuery_.fetch_add(1);
    });
    link.StartReader();
  }

  void TearDown() override {
    session.Shutdown();
    link.Stop();
    if (expectRejected_) {
      EXPECT_GT(receiver.FramesRejected(), 0u) << "no spoilt reply reached the receiver";
    } else {
      EXPECT_EQ(receiver.FramesRejected(), 0u) << "a reply was taken apart by the fault";
    }
    sensor.Stop();
  }

  sim::ShaperCounts ShaperCounts() {
    return sensor.WithSensor([](sim::SimSensor& s) { return s.shaper().counts(); });
  }

  // Whatever the case, the fault must really have been applied.
  void ExpectTheFaultHappened() {
    const sim::FaultSettings& f = GetParam().faults;
    const sim::ShaperCounts c = ShaperCounts();
    if (f.noiseBytes) {
      EXPECT_GT(c.noiseBytes, 0u);
    }
    if (f.dropEvery) {
      EXPECT_GT(c.dropped, 0u);
    }
    if (f.corruptEvery) {
      EXPECT_GT(c.corrupted, 0u);
      expectRejected_ = true;  // the receiver's count is read once its reader has stopped
    }
    if (f.preambleAA) {
      EXPECT_GT(aaFrames_.load(), 0);
      EXPECT_EQ(bbFrames_.load(), 0);
    }
  }

  void ExpectNothingWrong() {
    for (const std::string& w : poster.Wrong()) ADD_FAILURE() << "shown: " << w;
    EXPECT_EQ(badNextQuery_.load(), 0);
    EXPECT_TRUE(boxes.Boxes().empty()) << "a message box appeared";
  }

  void ExpectEverySettingTrue() {
    const SensorSettings& s = session.Settings();
    EXPECT_EQ(s.serialNodeAddress.load(), truth.nodeAddress);
    EXPECT_EQ(s.serialBaudCode.load(), truth.baudCode);
    EXPECT_EQ(s.canNodeId.load(), truth.canId);
    EXPECT_EQ(s.canFrameType.load(), truth.frameType);
    EXPECT_EQ(s.canRateCode.load(), truth.canRateCode);
  }

  SensorTruth truth;
  SimPtyHarness sensor;
  FrameReceiver receiver;
  TruthCheckingPoster poster{truth};
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  DeviceSession session{link, receiver, [] {}, op};
  std::atomic<int> aaFrames_{0};      // counted on the reader thread
  std::atomic<int> bbFrames_{0};      // counted on the reader thread
  std::atomic<int> badNextQuery_{0};  // counted on the reader thread
  bool expectRejected_ = false;       // test thread only
};

TEST_P(FaultInjection, IdentityChainShowsOnlyTheSensorsValues) {
  const FaultCase& fault = GetParam();
  int restarts = 0;
  session.SendIdentityQuery();
  const auto deadline = steady_clock::now() + 15s;
  // A clean line loses nothing: waiting longer there only tells a late reply from a lost one.
  const auto stalledAfter = fault.losesReplies ? 250ms : 3000ms;
  // A chain that stalls is restarted as the link watch does once the sensor
  // answers again: keep-alives (one to three, so the restarts do not all meet
  // the same lost reply), then the identity query.
  while (poster.CardsShown() == 0 && restarts < 8 && steady_clock::now() < deadline) {
    const std::size_t before = poster.Total();
    if (WaitUntil([&] { return poster.Total() > before; }, stalledAfter)) continue;
    ++restarts;
    for (int i = 0; i <= restarts % 3; ++i) {
      session.SendKeepAlive();
      WaitUntil([&] { return session.TakeKeepAliveAnswered(); }, 100ms);
    }
    session.SendIdentityQuery();
  }

  EXPECT_TRUE(poster.LinesShown().count(truth.firmwareLine)) << "not even the first reply came through";
  if (!fault.losesReplies) {
    // One pass is enough (a restart would only mean a reply came late).
    EXPECT_EQ(poster.LinesShown().size(), 3u);
    EXPECT_EQ(poster.CardsShown(), 1u);
    ExpectEverySettingTrue();
  } else {
    EXPECT_GT(restarts, 0) << "the fault never stalled the chain";
  }
  ExpectTheFaultHappened();
  ExpectNothingWrong();

  // Once the line is clean again, one identity query brings everything.
  sensor.WithSensor([](sim::SimSensor& s) {
    s.shaper().settings() = sim::FaultSettings{};
    return 0;
  });
  const std::size_t cards = poster.CardsShown();
  session.SendIdentityQuery();
  ASSERT_TRUE(WaitUntil([&] { return poster.CardsShown() > cards; }, 10s));
  EXPECT_EQ(poster.LinesShown().size(), 3u);
  ExpectEverySettingTrue();
  ExpectNothingWrong();
}

TEST_P(FaultInjection, CardSearchShowsOnlyTheSensorsCard) {
  const FaultCase& fault = GetParam();
  // The poll tick as fast as the gate lets it, on a thread of its own like the
  // poll timer's. A lost reply costs it one reply deadline.
  std::atomic<bool> stop{false};
  std::thread poll([&] {
    while (!stop.load()) session.CardPollTick();
  });
  const std::size_t wanted = fault.losesReplies ? 6 : 40;
  const bool enough = WaitUntil(
      [&] { return poster.CardsShown() >= wanted && (!fault.losesReplies || session.LostCardReads() >= 2); }, 30s);
  stop.store(true);
  session.CardReadGate().Release();  // as StopCardPoll frees a waiting tick
  poll.join();

  EXPECT_TRUE(enough) << poster.CardsShown() << " readings, " << session.LostCardReads() << " lost reads";
  if (!fault.losesReplies) {
    // A clean line answers every read. On a loaded machine a slow reply may be
    // given up for lost first, so count the readings, not the losses.
    auto requestsSeen = [&](std::uint8_t code) {
      std::size_t n = 0;
      for (const SimPtyHarness::Event& e : sensor.Events()) n += e.fromHost && e.code == code;
      return n;
    };
    auto readsSent = [&] { return requestsSeen(0x30); };
    // The last read may still be on its way to the sensor: once a keep-alive sent
    // after it has arrived, the sensor has seen every read the poll sent.
    const std::size_t keepAlives = requestsSeen(0x7F);
    session.SendKeepAlive();
    ASSERT_TRUE(WaitUntil([&] { return requestsSeen(0x7F) > keepAlives; }, 10s));
    WaitUntil([&] { return poster.CardsShown() == readsSent(); }, 10s);
    EXPECT_EQ(poster.CardsShown(), readsSent()) << session.LostCardReads() << " reads given up";
  }
  ExpectTheFaultHappened();
  ExpectNothingWrong();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjection, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// The tool's own record of the wire: card reads written and card replies read.
// Reads still unanswered here are at least as many as the sensor has waiting.
class CardReadWire final : public FrameSender {
 public:
  explicit CardReadWire(FrameSender& link) : link_(link) {}
  void SendData(LinkFrame& frame) override {
    if (frame.code == 0x30) Count(+1);
    link_.SendData(frame);
  }
  void ReplyRead() { Count(-1); }
  int MostOutstanding() const { return most_.load(); }

 private:
  void Count(int step) {
    const int now = outstanding_.fetch_add(step) + step;
    int most = most_.load();
    while (now > most && !most_.compare_exchange_weak(most, now)) {
    }
  }
  FrameSender& link_;
  std::atomic<int> outstanding_{0};  // poll thread and reader thread
  std::atomic<int> most_{0};
};

// A sensor that takes longer than the reply deadline to answer a card read is
// slow, not lossy: the poll gives it a second read, never a third, and still
// shows each reading it sends.
class SlowSensorCardPoll : public ::testing::TestWithParam<int> {};

TEST_P(SlowSensorCardPoll, AtMostTwoReadsOutAndTheCardStillShows) {
  SimProcess sim({"--card", "1 305", "--delay", std::to_string(GetParam())});
  ASSERT_TRUE(sim.Started());
  FrameReceiver receiver;
  RecordingPoster poster;
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  CardReadWire wire{link};
  DeviceSession session{wire, receiver, [] {}, op};
  receiver.SetFrameHandler([&](const LinkFrame& f) {
    if (f.code == 0x30) wire.ReplyRead();
    session.DispatchReply(f);
  });
  ASSERT_TRUE(link.OpenPort(sim.LinkPath(), 115200));
  link.StartReader();

  session.StartCardPoll();
  auto cards = [&] {
    std::size_t n = 0;
    for (const auto& p : poster.All()) n += p.notification.message == WM_CARD_NUMBER && p.notification.lParam == 305;
    return n;
  };
  const bool shown = WaitUntil([&] { return cards() >= 4; }, 30s);
  session.StopCardPoll();
  session.Shutdown();
  link.Stop();

  EXPECT_TRUE(shown) << cards() << " readings";
  EXPECT_LE(wire.MostOutstanding(), 2);
  EXPECT_TRUE(boxes.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Delays, SlowSensorCardPoll, ::testing::Values(1100, 2500),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Replies" + std::to_string(info.param) + "msLate";
                         });

}  // namespace
}  // namespace varnel::test
