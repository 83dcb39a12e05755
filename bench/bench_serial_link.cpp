// The serial link against the simulated sensor pacing the wire at 115200 Bd, on
// the port given (a pty link on Linux; a COM port that wine maps to the
// simulator's pty on Windows): the processor time an idle open link costs, and
// a 64 KiB firmware exchange as a share of the stop-and-wait wire-time limit.
// A plain program so the same source runs on both sides (bench/windows-vs-linux.sh):
//   bench_serial_link PORT [idle seconds, default 10] [transfers, default 3]
// The last line it prints is "result key=value ...".
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/CountingPoster.h"
#include "bench/FirmwareWireTime.h"
#include "bench/ProcessCpu.h"
#include "link/DeviceLink.h"
#include "protocol/DeviceSession.h"
#include "tests/support/MessageRecorder.h"

namespace {

using namespace varnel;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kImageSize = 64 * 1024;
constexpr std::uint32_t kBaud = 115200;

using bench::CountingPoster;

// Passes every notification on and notes when each chunk went out (the
// transfer posts a step right after a chunk's write), so the time between two
// steps is one chunk's round trip: its write, the sensor's reply, the handling.
class ChunkClock final : public NotificationPoster {
 public:
  explicit ChunkClock(NotificationPoster& next) : next_(next) { steps_.reserve(4096); }
  bool Post(std::string_view caption, Notification n) override {
    if (n.message == WM_FW_PROGRESS && n.wParam == PROGRESS_STEP) {
      std::lock_guard lock(mutex_);
      if (steps_.size() < steps_.capacity()) steps_.push_back(Clock::now());
    }
    return next_.Post(caption, std::move(n));
  }
  bool HasWindow(std::string_view caption) override { return next_.HasWindow(caption); }
  // Takes the steps noted so far and starts afresh.
  std::vector<Clock::time_point> Take() {
    std::lock_guard lock(mutex_);
    std::vector<Clock::time_point> out = steps_;
    steps_.clear();
    return out;
  }

 private:
  NotificationPoster& next_;
  std::mutex mutex_;
  std::vector<Clock::time_point> steps_;  // guarded by mutex_; reserved up front, so posting never allocates
};

// Round trips of full chunks in milliseconds: the gaps between consecutive
// steps (the last chunk is short, and its step starts no further gap).
std::vector<double> ChunkRoundTripsMs(const std::vector<Clock::time_point>& steps, std::uint32_t imageSize) {
  std::vector<double> out;
  const std::size_t fullChunks = imageSize / OTA_CHUNK_SIZE;
  for (std::size_t i = 1; i < steps.size() && i < fullChunks; ++i)
    out.push_back(std::chrono::duration<double, std::milli>(steps[i] - steps[i - 1]).count());
  return out;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

int Fail(const char* what) {
  std::fprintf(stderr, "bench_serial_link: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: bench_serial_link PORT [idle seconds] [transfers]");
  const std::string port = argv[1];
  const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const int transfers = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

  FrameReceiver receiver;
  CountingPoster poster;
  ChunkClock chunkClock{poster};
  test::MessageRecorder boxes;
  Operator op{boxes, chunkClock};
  DeviceLink link{receiver, op};
  DeviceSession session{link, receiver, [&] { link.StartReader(); }, op};
  if (!link.OpenPort(port, kBaud)) return Fail("cannot open the port");
  // The identity chain first: afterwards nothing is sent until the transfer.
  session.StartLink();
  if (!poster.WaitForCard(std::chrono::seconds(15))) return Fail("the identity chain did not end");

  // Idle: the link open, the sensor silent, only the reader waiting for input.
  const double cpuBefore = bench::ProcessCpuSeconds();
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));  // the measuring window
  const double idleCpu = bench::ProcessCpuSeconds() - cpuBefore;
  const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();
  const double idlePercent = 100.0 * idleCpu / idleWall;
  std::printf("idle link: %.3f s of processor time over %.1f s = %.3f %% of a core\n", idleCpu, idleWall,
              idlePercent);

  std::vector<std::uint8_t> image(kImageSize);
  std::mt19937 random(99);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const double limit = bench::ExchangeWireSeconds(kImageSize, kBaud);
  // A full chunk and its reply on the wire: 8 + 8 + 248 + 2 bytes out, 11 back.
  const double chunkWireMs = (18.0 + OTA_CHUNK_SIZE + 11.0) * 10.0 * 1000.0 / kBaud;
  std::vector<double> times;
  std::vector<double> roundTrips;
  for (int i = 0; i < transfers; ++i) {
    const auto start = Clock::now();
    if (session.Firmware().StartFirmwareDownload(image) != FirmwareLoadResult::Ok) return Fail("transfer refused");
    if (!poster.WaitForTransfers(i + 1, std::chrono::seconds(120))) return Fail("transfer did not end within 120 s");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    while (session.Firmware().State().Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!boxes.Boxes().empty()) return Fail(("the transfer showed a box: " + boxes.Boxes()[0].text).c_str());
    times.push_back(seconds);
    const std::vector<double> trips = ChunkRoundTripsMs(chunkClock.Take(), kImageSize);
    roundTrips.insert(roundTrips.end(), trips.begin(), trips.end());
    std::printf("transfer %d: %.3f s (limit %.3f s, %.1f %%); chunk round trip over its wire time: median %.3f ms, "
                "90th percentile %.3f ms\n",
                i + 1, seconds, limit, 100.0 * limit / seconds, Percentile(trips, 0.5) - chunkWireMs,
                Percentile(trips, 0.9) - chunkWireMs);
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  session.Shutdown();
  link.Stop();
  std::printf(
      "result idle_cpu_percent=%.3f transfer_s=%.3f limit_s=%.3f percent_of_limit=%.1f chunk_overhead_ms=%.3f "
      "chunk_overhead_p90_ms=%.3f\n",
      idlePercent, median, limit, 100.0 * limit / median, Percentile(roundTrips, 0.5) - chunkWireMs,
      Percentile(roundTrips, 0.9) - chunkWireMs);
  return 0;
}
