// firmware: one image to several sensors side by side, one thread per port.
// Each port has its own link, session and transfer, so a port that fails
// leaves the others running.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ProgressLines.h"
#include "protocol/FirmwareTransfer.h"
#include "ui/rules/FirmwareImageCheck.h"

#ifdef _WIN32
#include <io.h>
#define VARNEL_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define VARNEL_ISATTY(f) ::isatty(::fileno(f))
#endif

namespace varnel::cli {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

// One port's download. The counters are written by the port's thread and read
// by the progress lines on the main thread; the ending is written before
// finished is set and read only after it.
struct PortRun {
  explicit PortRun(std::string portName) : name(std::move(portName)) {}
  const std::string name;
  std::atomic<PortPhase> phase{PortPhase::Opening};
  std::atomic<std::uint32_t> chunksDone{0};
  std::atomic<Clock::rep> startedAt{0};  // Clock ticks; 0 until the transfer starts
  std::atomic<bool> finished{false};
  ExitCode code = ExitCode::Ok;
  std::string result;
  std::optional<std::uint32_t> status;  // the sensor's, when it refused
  double seconds = 0;                   // from the begin request to the verdict
};

constexpr std::chrono::milliseconds kLookEvery{100};

struct Shared {
  std::atomic<bool> abandon{false};  // set by the main thread when the operator stops the tool
  std::mutex mutex;                  // pairs with ended; guards nothing else
  std::condition_variable ended;     // a port finished
};

void RunOnePort(const CommandContext& ctx, const std::vector<std::uint8_t>& image, PortRun& run, Shared& shared) {
  StderrPresenter boxes(ctx.err, run.name + ": ");
  const auto finish = [&](ExitCode code, std::string result) {
    run.code = code;
    run.result = std::move(result);
    run.phase = PortPhase::Finished;
    {
      std::lock_guard lock(shared.mutex);
      run.finished = true;
    }
    shared.ended.notify_all();
  };
  SensorPort port(run.name, boxes, ctx.dump);
  if (!port.Open()) return finish(ExitCode::PortUnavailable, "cannot open the port");

  FirmwareTransfer& transfer = port.Session().Firmware();
  FirmwareTransferTimeouts timeouts;
  timeouts.stall = ctx.policy.timeout;
  transfer.SetTimeouts(timeouts);
  const Clock::time_point start = Clock::now();
  run.startedAt = start.time_since_epoch().count();
  run.phase = PortPhase::Sending;
  if (const FirmwareLoadResult started = transfer.StartFirmwareDownload(image); started != FirmwareLoadResult::Ok)
    return finish(ExitCode::BadInput, FirmwareStartRefusal(started));

  // The exchange runs on the reader thread; this one only listens. The
  // transfer's state (under its lock, which the reader needs for every step)
  // is looked at a few times a second, not at every chunk.
  Clock::time_point nextLook = Clock::now() + kLookEvery;
  for (;;) {
    if (shared.abandon) {
      transfer.AbandonFirmwareTransfer();
      return finish(ExitCode::Failed, "stopped by the operator");
    }
    const std::optional<Notification> n = port.Events().WaitNext(nextLook);
    if (n && n->message == WM_FW_PROGRESS) {
      if (const std::optional<FirmwareVerdict> verdict = VerdictOfProgress(n->wParam, n->lParam)) {
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        switch (verdict->outcome) {
          case FirmwareOutcome::Done:
            return finish(ExitCode::Ok, "ok");
          case FirmwareOutcome::Refused:
            run.status = verdict->status;
            return finish(ExitCode::Refused, "refused: " + StatusText(verdict->status) + " (status " +
                                                 std::to_string(verdict->status) + ")");
          case FirmwareOutcome::NoAnswer:
            return finish(ExitCode::NoAnswer, "the sensor did not answer after the last chunk");
          case FirmwareOutcome::Abandoned:
            return finish(ExitCode::Failed, "abandoned");
        }
      }
      if (n->wParam == PROGRESS_STEP) run.chunksDone.fetch_add(1);
    }
    if (Clock::now() < nextLook) continue;
    nextLook = Clock::now() + kLookEvery;
    const FirmwareTransferState state = transfer.State();
    if (state.stage == OtaStage::End || state.stage == OtaStage::Finish) run.phase = PortPhase::Checking;
    // Before the last chunk a silent step is given up (never sent again: the
    // sensor may have taken it); after it the transfer's own watchdog decides.
    if (state.stalled) {
      transfer.AbandonFirmwareTransfer();
      run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      return finish(ExitCode::NoAnswer, "the sensor did not answer within " +
                                            std::to_string(ctx.policy.timeout.count()) + " ms");
    }
  }
}

std::vector<PortProgress> Snapshot(const std::vector<std::unique_ptr<PortRun>>& runs, std::uint64_t size) {
  std::vector<PortProgress> ports;
  const Clock::rep now = Clock::now().time_since_epoch().count();
  for (const auto& run : runs) {
    PortProgress p;
    p.port = run->name;
    p.phase = run->phase.load();
    p.bytesTotal = size;
    p.bytesDone = std::min<std::uint64_t>(std::uint64_t{run->chunksDone.load()} * OTA_CHUNK_SIZE, size);
    const Clock::rep started = run->startedAt.load();
    if (started) p.elapsedSeconds = std::chrono::duration<double>(Clock::duration(now - started)).count();
    if (run->finished) p.result = run->result;
    ports.push_back(std::move(p));
  }
  return ports;
}

}  // namespace

ExitCode RunFirmware(const CommandContext& ctx, const std::string& imagePath) {
  if (ctx.ports.empty()) {
    Complain(ctx, "--port is required");
    return ExitCode::BadInput;
  }
  FirmwareImageCheck check = CheckFirmwareImage(imagePath);
  if (!check.Accepted()) {
    Complain(ctx, check.refusal);
    return ExitCode::BadInput;
  }
  const std::uint64_t size = check.image.size();

  Shared shared;
  std::vector<std::unique_ptr<PortRun>> runs;
  for (const std::string& name : ctx.ports) runs.push_back(std::make_unique<PortRun>(name));
  std::vector<std::thread> threads;
  for (auto& run : runs)
    threads.emplace_back([&ctx, &check, &shared, run = run.get()] { RunOnePort(ctx, check.image, *run, shared); });

  ProgressLines lines(ctx.err, VARNEL_ISATTY(ctx.err));
  for (;;) {
    lines.Update(Snapshot(runs, size));
    if (ctx.stopRequested()) shared.abandon = true;
    std::unique_lock lock(shared.mutex);
    const auto allEnded = [&] {
      return std::all_of(runs.begin(), runs.end(), [](const auto& run) { return run->finished.load(); });
    };
    // Wakes for an ending, else redraws a few times a second.
    if (shared.ended.wait_for(lock, std::chrono::milliseconds(250), allEnded)) break;
  }
  for (std::thread& thread : threads) thread.join();
  lines.Update(Snapshot(runs, size));

  ExitCode code = ExitCode::Ok;
  for (const auto& run : runs)
    if (code == ExitCode::Ok) code = run->code;
  if (ctx.json) {
    Json ports = Json::array();
    for (const auto& run : runs) {
      ports.push_back(Json{{"port", run->name},
                           {"result", run->code == ExitCode::Ok ? "ok" : run->result},
                           {"exit_code", ToInt(run->code)},
                           {"status", run->status ? Json(*run->status) : Json()},
                           {"seconds", run->seconds}});
    }
    PrintLine(ctx, Json{{"image", imagePath}, {"bytes", size}, {"ports", ports}}.dump(
                       -1, ' ', false, Json::error_handler_t::replace));
    return code;
  }
  char row[512];
  std::snprintf(row, sizeof row, "%-24s %-8s %10s %12s  %s", "PORT", "RESULT", "SECONDS", "KB/S", "DETAIL");
  PrintLine(ctx, row);
  for (const auto& run : runs) {
    const bool ok = run->code == ExitCode::Ok;
    const double rate = ok && run->seconds > 0 ? size / run->seconds / 1000.0 : 0;
    std::snprintf(row, sizeof row, "%-24s %-8s %10.2f %12.1f  %s", run->name.c_str(), ok ? "ok" : "failed",
                  run->seconds, rate, ok ? "" : run->result.c_str());
    PrintLine(ctx, row);
  }
  return code;
}

}  // namespace varnel::cli
