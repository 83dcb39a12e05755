// A 64 KiB firmware download through the operator's path: the main window's
// "下载" button, its checks and pauses, and the modal progress window, offscreen
// against varnel-sensor-sim pacing the wire at 115200 Bd. Timed from the press
// of the button to the progress window's PROGRESS_DONE, against the same
// stop-and-wait wire-time limit as bench_firmware.
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/FirmwareWireTime.h"
#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "link/TrafficWriter.h"
#include "platform/Operator.h"
#include "protocol/DeviceSession.h"
#include "tests/support/SimProcess.h"
#include "ui/AppServices.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"
#include "ui/VarnelDlg.h"
#include "ui/framework/qt/QtAccess.h"
#include "tests/support/RecordingPresenter.h"
#include "ui/framework/WindowNotifications.h"

namespace {

using namespace varnel;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kImageSize = 64 * 1024;
constexpr std::uint32_t kBaud = 115200;

// Everything the dialogs work with, fresh, with message boxes answered at once.
struct Rig {
  Rig() : sim({"--pace", std::to_string(kBaud), "--image-out", ReceivedPath()}) {
    link.SetTrafficLog(&trace);
    session.Firmware().SetDiagnosticSink(&trace);
  }
  ~Rig() {
    session.Shutdown();
    link.Stop();
  }
  static std::string ReceivedPath() { return Dir().filePath(QStringLiteral("received.bin")).toStdString(); }
  static QTemporaryDir& Dir() {
    static QTemporaryDir dir;
    return dir;
  }

  test::SimProcess sim;
  // The trace and the chunk lines go where the tool's go, through the writer, into nothing.
  int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  TrafficWriter trace{devNull, stderr};
  FrameReceiver receiver;
  WindowRegistry windows;
  DialogNotificationPoster poster{windows};
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  DeviceSession session{link, receiver, [this] { link.StartReader(); }, op};
  RegistrationLedger ledger{op};
  AppServices services{link, session, windows, op, ledger, [this] { return std::vector<std::string>{sim.LinkPath()}; }};
};

Rig* gRig = nullptr;
CVarnelDlg* gMain = nullptr;
std::string gImagePath;
std::vector<std::uint8_t> gImage;

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_FirmwareDialog64KiB_Paced115200(benchmark::State& state) {
  if (!gMain) {
    state.SkipWithError("the main window did not connect to the simulated sensor");
    return;
  }
  std::optional<Clock::time_point> doneAt;
  gMain->SetProgressDialogHook([&](CProgressDlg& progress) {
    progress.OnMessage(WM_FW_PROGRESS, [&, p = &progress](Notification& n) {
      if (n.wParam == PROGRESS_DONE) doneAt = Clock::now();
      p->OnProgress(n.wParam, n.lParam);
    });
  });
  gMain->Control(main_ids::FirmwarePath)->SetText(gImagePath);
  QAbstractButton* download = Button(*gMain->Control(main_ids::Download));

  double total = 0;
  for (auto _ : state) {
    doneAt.reset();
    std::filesystem::remove(Rig::ReceivedPath());
    gRig->boxes.Clear();
    const auto pressed = Clock::now();
    download->click();  // returns once the progress window has closed
    if (!doneAt) {
      state.SkipWithError("the progress window closed without PROGRESS_DONE");
      return;
    }
    const double seconds = std::chrono::duration<double>(*doneAt - pressed).count();
    state.SetIterationTime(seconds);
    total += seconds;
    // The sensor stores the image as it answers the end of image; the verdict waited for its finish answer.
    const bool arrived = gRig->sim.WaitForState([](auto s) { return s["ota"] == "idle"; });
    if (!arrived || ReadAll(Rig::ReceivedPath()) != gImage ||
        gRig->boxes.Texts() != std::vector<std::string>{"固件下载成功，请重启传感器"}) {
      state.SkipWithError("the image did not arrive intact, or the window said something else");
      return;
    }
  }
  gMain->SetProgressDialogHook(nullptr);
  const double limit = bench::ExchangeWireSeconds(kImageSize, kBaud);
  const double n = static_cast<double>(state.iterations());
  state.counters["wire_bytes"] = static_cast<double>(bench::ExchangeWireBytes(kImageSize));
  state.counters["limit_s"] = limit;
  state.counters["percent_of_limit"] = 100.0 * (total / n) / limit;
}
BENCHMARK(BM_FirmwareDialog64KiB_Paced115200)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  Rig rig;
  gRig = &rig;
  if (!rig.sim.Started()) {
    std::fprintf(stderr, "cannot start varnel-sensor-sim\n");
    return 1;
  }
  gImage.resize(kImageSize);
  std::mt19937 random(99);
  for (auto& b : gImage) b = static_cast<std::uint8_t>(random());
  gImagePath = Rig::Dir().filePath(QStringLiteral("Rfid_bench.bin")).toStdString();
  std::ofstream(gImagePath, std::ios::binary)
      .write(reinterpret_cast<const char*>(gImage.data()), static_cast<std::streamsize>(gImage.size()));

  CVarnelDlg dlg(rig.services);
  // Connect, let both identity chains of the start-up run out so the download
  // has the line to itself, then run the benchmarks inside the main window's
  // modal loop, as an operator's press would.
  QTimer driver;
  driver.setInterval(5);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int phase = 0;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    if (Clock::now() > deadline) {
      driver.stop();
      benchmark::RunSpecifiedBenchmarks();  // reports the failure
      dlg.EndDialog(kIdCancel);
      return;
    }
    if (phase == 0) {
      if (auto* connect = dynamic_cast<CConnectDlg*>(QApplication::activeModalWidget())) {
        phase = 1;
        connect->OnConnect();
      }
    } else if (phase == 1 && dlg.Watch().IdentityRequeried() && gRig->sim.RequestsOf(0x30) >= 2) {
      driver.stop();
      gMain = &dlg;
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
      dlg.EndDialog(kIdCancel);
    }
  });
  driver.start();
  dlg.RunModal();
  return 0;
}
