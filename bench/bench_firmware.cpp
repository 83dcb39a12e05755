// Firmware transfer of a 64 KiB image against the simulated sensor on a
// pseudo-terminal: once as fast as the tool and the sensor go, once with the
// sensor pacing the wire at 115200 Bd, compared with what stop-and-wait
// allows at that rate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fcntl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/CountingPoster.h"
#include "bench/FirmwareWireTime.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "link/TrafficWriter.h"
#include "protocol/DeviceSession.h"
#include "tests/protocol/SimPtyHarness.h"
#include "tests/support/MessageRecorder.h"

namespace {

using namespace varnel;
using Clock = std::chrono::steady_clock;
using bench::ExchangeWireBytes;
using bench::ExchangeWireSeconds;

constexpr std::size_t kImageSize = 64 * 1024;

using bench::CountingPoster;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageSize);
  std::mt19937 random(99);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  return image;
}

class Rig {
 public:
  explicit Rig(std::uint32_t paceBaud) {
    receiver_.SetTrafficLog(&trace_);
    link_.SetTrafficLog(&trace_);
    session_.Firmware().SetDiagnosticSink(&trace_);
    sensor_.WithSensor([&](sim::SimSensor& s) {
      s.shaper().settings().paceBaud = paceBaud;
      return 0;
    });
    std::string problem;
    ok_ = sensor_.Start(&problem) && link_.OpenPort(sensor_.PortPath(), 115200);
    if (!ok_) return;
    // Let the identity chain run out first, so the transfer has the line alone.
    session_.StartLink();
    ok_ = poster_.WaitForCard(std::chrono::seconds(10));
  }
  ~Rig() {
    session_.Shutdown();
    link_.Stop();
    sensor_.Stop();
  }
  bool ok() const { return ok_; }

  // One whole exchange; answers its duration, or a negative value on failure.
  double Transfer(const std::vector<std::uint8_t>& image) {
    const auto finishedBefore =
        sensor_.WithSensor([](sim::SimSensor& s) { return s.model().firmware().finishedCount(); });
    const auto start = Clock::now();
    if (session_.Firmware().StartFirmwareDownload(image) != FirmwareLoadResult::Ok) return -1;
    const auto deadline = start + std::chrono::seconds(60);
    while (session_.Firmware().State().Active()) {
      if (Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool intact = sensor_.WithSensor([&](sim::SimSensor& s) {
      return s.model().firmware().finishedCount() == finishedBefore + 1 &&
             s.model().firmware().verifiedImage() == image;
    });
    return intact ? seconds : -1;
  }

 private:
  // The trace and the chunk lines go where the tool's go, through the writer, into nothing.
  int devNull_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  TrafficWriter trace_{devNull_, stderr};
  test::SimPtyHarness sensor_;
  FrameReceiver receiver_;
  CountingPoster poster_;
  test::MessageRecorder boxes_;
  Operator op_{boxes_, poster_};
  DeviceLink link_{receiver_, op_};
  DeviceSession session_{link_, receiver_, [this] { link_.StartReader(); }, op_};
  bool ok_ = false;
};

void RunTransfers(benchmark::State& state, std::uint32_t paceBaud) {
  const auto image = Image();
  Rig rig(paceBaud);
  if (!rig.ok()) {
    state.SkipWithError("cannot start the simulated sensor or open its pty");
    return;
  }
  double total = 0;
  for (auto _ : state) {
    const double seconds = rig.Transfer(image);
    if (seconds < 0) {
      state.SkipWithError("transfer failed or the image did not arrive intact");
      return;
    }
    state.SetIterationTime(seconds);
    total += seconds;
  }
  const double chunks = OtaChunkCount(kImageSize);
  const double n = static_cast<double>(state.iterations());
  state.counters["chunks"] = chunks;
  state.counters["chunks_per_s"] = chunks * n / total;
  state.counters["image_kB_per_s"] = kImageSize * n / total / 1000.0;
  if (paceBaud) {
    const double limit = ExchangeWireSeconds(kImageSize, paceBaud);
    state.counters["wire_bytes"] = static_cast<double>(ExchangeWireBytes(kImageSize));
    state.counters["limit_s"] = limit;
    state.counters["percent_of_limit"] = 100.0 * (total / n) / limit;
  }
}

void BM_FirmwareTransfer64KiB_Unpaced(benchmark::State& state) { RunTransfers(state, 0); }
BENCHMARK(BM_FirmwareTransfer64KiB_Unpaced)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FirmwareTransfer64KiB_Paced115200(benchmark::State& state) { RunTransfers(state, 115200); }
BENCHMARK(BM_FirmwareTransfer64KiB_Paced115200)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
