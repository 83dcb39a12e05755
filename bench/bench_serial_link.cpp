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
  test::MessageRecorder boxes;
  Operator op{boxes, poster};
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
  std::vector<double> times;
  for (int i = 0; i < transfers; ++i) {
    const auto start = Clock::now();
    if (session.Firmware().StartFirmwareDownload(image) != FirmwareLoadResult::Ok) return Fail("transfer refused");
    if (!poster.WaitForTransfers(i + 1, std::chrono::seconds(120))) return Fail("transfer did not end within 120 s");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    while (session.Firmware().State().Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!boxes.Boxes().empty()) return Fail(("the transfer showed a box: " + boxes.Boxes()[0].text).c_str());
    times.push_back(seconds);
    std::printf("transfer %d: %.3f s (limit %.3f s, %.1f %%)\n", i + 1, seconds, limit, 100.0 * limit / seconds);
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  session.Shutdown();
  link.Stop();
  std::printf("result idle_cpu_percent=%.3f transfer_s=%.3f limit_s=%.3f percent_of_limit=%.1f\n", idlePercent,
              median, limit, 100.0 * limit / median);
  return 0;
}
