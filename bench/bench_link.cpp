// Link benchmarks: checksum and receiver throughput, and what the reader
// thread costs and how fast it hands a frame on, over a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "link/LinkFrame.h"
#include "link/TrafficWriter.h"
#include "tests/support/MessageRecorder.h"

namespace {

using namespace varnel;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
  std::mt19937 rng(42);
  std::vector<std::uint8_t> out(count);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Frames of every size the receiver accepts, back to back.
std::vector<std::uint8_t> FrameStream(std::size_t atLeast) {
  std::vector<std::uint8_t> out;
  std::mt19937 rng(7);
  std::uint8_t wire[kLinkMaxWireFrame];
  while (out.size() < atLeast) {
    LinkFrame frame = MakeRequest(static_cast<std::uint8_t>(rng()));
    frame.length = static_cast<std::uint16_t>(rng() % (kLinkMaxReceivedPayload + 1));
    for (int i = 0; i < frame.length; ++i) frame.payload[i] = static_cast<std::uint8_t>(rng());
    const std::size_t n = SerialiseFrame(frame, wire);
    out.insert(out.end(), wire, wire + n);
  }
  return out;
}

void BM_Crc16(benchmark::State& state) {
  const auto bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Crc16(bytes.data(), bytes.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(10)->Arg(266)->Arg(64 * 1024);

enum class DumpTo { Nothing, DevNull, File };

// The dump goes through the program's writer, as in the tool. A pass counts
// until the writer has put out everything the pass dumped. bytes_per_second is
// by the processor time of the feeding thread (what the dump costs the thread
// that talks to the sensor); wall_MiB/s is what the receiver and the writer's
// own thread sustain together, by the clock.
void RunReceiver(benchmark::State& state, DumpTo dumpTo) {
  const auto stream = FrameStream(256 * 1024);
  std::FILE* file = nullptr;
  if (dumpTo == DumpTo::DevNull) file = std::fopen("/dev/null", "w");
  if (dumpTo == DumpTo::File) file = std::tmpfile();
  if (dumpTo != DumpTo::Nothing && !file) {
    state.SkipWithError("cannot open the dump sink");
    return;
  }
  std::optional<TrafficWriter> writer;
  // A queue that holds a whole pass's dump (about 1.4 MB), so that nothing is
  // dropped however the two threads are scheduled.
  if (file) writer.emplace(fileno(file), stderr, std::size_t{16} << 20);
  FrameReceiver receiver;
  if (writer) receiver.SetTrafficLog(&*writer);
  std::uint64_t frames = 0;
  receiver.SetFrameHandler([&](const LinkFrame&) { ++frames; });
  const auto start = Clock::now();
  for (auto _ : state) {
    receiver.Feed(stream.data(), stream.size());
    if (!writer) continue;
    if (!writer->Drain(std::chrono::seconds(60))) {
      state.SkipWithError("the writer did not keep up");
      break;
    }
    if (dumpTo == DumpTo::File) {
      state.PauseTiming();
      // Keep the file from growing without end; the writer is idle here.
      if (ftruncate(fileno(file), 0) != 0 || lseek(fileno(file), 0, SEEK_SET) != 0) state.SkipWithError("truncate");
      state.ResumeTiming();
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  state.counters["wall_MiB/s"] = static_cast<double>(state.iterations() * stream.size()) / wall / (1024.0 * 1024.0);
  if (writer) {
    state.counters["dropped_lines"] = static_cast<double>(writer->DroppedLines());
    writer.reset();
  }
  if (file) std::fclose(file);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["stream_bytes"] = static_cast<double>(stream.size());
}
void BM_ReceiverNoDump(benchmark::State& state) { RunReceiver(state, DumpTo::Nothing); }
void BM_ReceiverDumpToDevNull(benchmark::State& state) { RunReceiver(state, DumpTo::DevNull); }
void BM_ReceiverDumpToFile(benchmark::State& state) { RunReceiver(state, DumpTo::File); }
BENCHMARK(BM_ReceiverNoDump);
BENCHMARK(BM_ReceiverDumpToDevNull);
BENCHMARK(BM_ReceiverDumpToFile);

// ---- The reader thread over a pseudo-terminal ----

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ids.insert(e->d_name);
    closedir(dir);
  }
  return ids;
}

// Processor time a thread of this process has used, in nanoseconds.
double ThreadCpuNs(const std::string& tid) {
  std::ifstream schedstat("/proc/self/task/" + tid + "/schedstat");
  double ns = 0;
  if (schedstat >> ns) return ns;
  // Without scheduler statistics: utime and stime in clock ticks.
  std::ifstream stat("/proc/self/task/" + tid + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = close + 2; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += line[i];
    }
  }
  if (fields.size() < 13) return 0;
  const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
  return ticks * 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct PtyLink {
  int master = -1;
  int slave = -1;
  FrameReceiver receiver;
  test::MessageRecorder boxes;
  DeviceLink link{receiver, boxes.AsOperator()};
  std::string readerTid;

  bool Start() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    const char* name = ttyname(slave);
    if (!name) return false;
    if (!link.OpenPort(name, 115200)) return false;
    const auto before = ThreadIds();
    link.StartReader();
    for (const auto& id : ThreadIds())
      if (!before.count(id)) readerTid = id;
    return !readerTid.empty();
  }
  ~PtyLink() {
    link.Stop();
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

// The reader's processor use, in percent of one core, over a span.
void MeasureReaderCpu(benchmark::State& state, bool hangUp) {
  PtyLink pty;
  if (!pty.Start()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  if (hangUp) {
    close(pty.master);
    pty.master = -1;
  }
  const auto span = std::chrono::seconds(state.range(0));
  double percent = 0;
  for (auto _ : state) {
    const double cpu0 = ThreadCpuNs(pty.readerTid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(span);  // the measured span: the reader is left alone
    const double cpu1 = ThreadCpuNs(pty.readerTid);
    const double wall = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
    percent = 100.0 * (cpu1 - cpu0) / wall;
  }
  state.counters["reader_cpu_%"] = percent;
  std::printf("reader thread CPU over %lld s (%s): %.4f %% of one core\n",
              static_cast<long long>(state.range(0)), hangUp ? "hung-up pty" : "idle pty", percent);
}
void BM_ReaderCpuIdle(benchmark::State& state) { MeasureReaderCpu(state, false); }
void BM_ReaderCpuHungUp(benchmark::State& state) { MeasureReaderCpu(state, true); }
BENCHMARK(BM_ReaderCpuIdle)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReaderCpuHungUp)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// From a frame written on the device side to the handler running on the reader thread.
void BM_ReaderHandOff(benchmark::State& state) {
  PtyLink pty;
  std::mutex mutex;
  std::condition_variable cv;
  std::uint64_t handled = 0;  // guarded by mutex
  pty.receiver.SetDumpEnabled(false);
  pty.receiver.SetFrameHandler([&](const LinkFrame&) {
    {
      std::lock_guard lock(mutex);
      ++handled;
    }
    cv.notify_one();
  });
  if (!pty.Start()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  std::uint8_t wire[kLinkMaxWireFrame];
  LinkFrame reply = MakeRequest(0x30, {0, 1, 2, 3, 4});
  const std::size_t n = SerialiseFrame(reply, wire);
  std::vector<double> micros;
  for (auto _ : state) {
    std::unique_lock lock(mutex);
    const std::uint64_t want = handled + 1;
    const auto t0 = Clock::now();
    if (write(pty.master, wire, n) != static_cast<ssize_t>(n)) {
      state.SkipWithError("write to the pty failed");
      break;
    }
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return handled >= want; })) {
      state.SkipWithError("frame not handed on");
      break;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_ReaderHandOff)->Iterations(2000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
