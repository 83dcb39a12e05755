// varnel-cli updating several simulated sensors at once: each sensor paces its
// line at 115200 Bd and takes a 64 KiB image. Compared: one sensor alone,
// four side by side, and the stop-and-wait wire-time limit of one exchange.
// The whole run is timed from starting varnel-cli to its end; each port's
// time is the one the tool reports (begin request to verdict).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/FirmwareWireTime.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kImageSize = 64 * 1024;
constexpr std::uint32_t kBaud = 115200;

std::string WriteImage(const std::string& folder) {
  std::string image(kImageSize, '\0');
  std::mt19937 random(7);
  for (char& b : image) b = static_cast<char>(random());
  const std::string path = folder + "/Rfid_bench.bin";
  std::ofstream(path, std::ios::binary) << image;
  return path;
}

void RunSideBySide(benchmark::State& state) {
  const auto sensors = static_cast<std::size_t>(state.range(0));
  char pattern[] = "/tmp/varnel-cli-bench-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const std::string image = WriteImage(folder);
  std::vector<std::unique_ptr<varnel::test::SimProcess>> sims;
  std::vector<std::string> args = {VARNEL_CLI_EXECUTABLE, "firmware", "--json"};
  for (std::size_t i = 0; i < sensors; ++i) {
    sims.push_back(std::make_unique<varnel::test::SimProcess>(std::vector<std::string>{"--pace", "115200"}));
    if (!sims.back()->Started()) return state.SkipWithError("cannot start the simulated sensor");
    args.insert(args.end(), {"--port", sims.back()->LinkPath()});
  }
  args.push_back(image);

  const double limit = varnel::bench::ExchangeWireSeconds(kImageSize, kBaud);
  double total = 0, slowestPort = 0;
  for (auto _ : state) {
    varnel::test::ChildOptions options;
    options.args = args;
    options.files = {{STDOUT_FILENO, folder + "/summary.json"}, {STDERR_FILENO, "/dev/null"}};
    const auto start = Clock::now();
    varnel::test::ChildProcess cli(std::move(options));
    if (!cli.WaitForExit(std::chrono::minutes(2)) || cli.ExitCode() != 0)
      return state.SkipWithError("varnel-cli failed or took longer than 2 minutes");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    std::ifstream in(folder + "/summary.json");
    const nlohmann::json summary = nlohmann::json::parse(in);
    for (const auto& port : summary["ports"])
      slowestPort = std::max(slowestPort, port["seconds"].get<double>());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["sensors"] = static_cast<double>(sensors);
  state.counters["run_s"] = total / n;
  state.counters["slowest_port_s"] = slowestPort;
  state.counters["limit_s"] = limit;
  state.counters["slowest_port_pct_of_limit"] = 100.0 * slowestPort / limit;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

BENCHMARK(RunSideBySide)->Name("BM_CliFirmware64KiB_Paced115200")->Arg(1)->Arg(4)
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
