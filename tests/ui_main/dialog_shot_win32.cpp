// Pictures of varnel.exe's dialogs on the system's own windows, for a person
// to look at: the main window with a sensor's identity and settings, the
// connect dialog with two ports, the firmware progress window at N/N and the
// registration dialog, each written as a PNG the way the screen shows it
// (frame and caption included). Run by tests/support/wine_sim_run.py, it also
// connects the main window to the simulated sensor on the mapped COM port and
// captures it with the sensor's own identity and settings (main-connected.png).
// Fails when a dialog cannot be made or captured.
//
//   varnel-dialog-shot.exe <folder>   (under wine: Z:/path/to/folder)
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "protocol/CommandSet.h"
#include "protocol/FirmwareTransfer.h"
#include "tests/support/OperatorInput.h"
#include "tests/support/SimRelay.h"
#include "tests/support/UiHarness.h"
#include "tests/support/WindowCaptureWin32.h"
#include "tests/support/Wait.h"
#include "ui/ConnectDlg.h"
#include "ui/DevRegister.h"
#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"
#include "ui/VarnelDlg.h"

namespace {

using namespace varnel;
using namespace std::chrono_literals;

bool Capture(Dialog& dialog, const std::string& folder, const char* name) {
  const std::string path = folder + "/" + name;
  if (!test::CaptureWindowToPng(dialog, path)) {
    std::fprintf(stderr, "could not capture %s\n", path.c_str());
    return false;
  }
  std::printf("%s written\n", path.c_str());
  return true;
}

// Runs the dialog modally and captures it once it shows, then cancels it.
bool CaptureModal(Dialog& dialog, const std::string& folder, const char* name,
                  const std::function<bool()>& ready = [] { return true; }) {
  bool written = false;
  test::UiScript()
      .When(std::string(name) + " on screen", [&] { return test::IsWindowVisible(dialog) && ready(); },
            [&] {
              written = Capture(dialog, folder, name);
              dialog.EndDialog(kIdCancel);
            },
            20s)
      .RunDuring([&] { dialog.RunModal(); });
  return written;
}

// The main window as the operator meets it once connected to the sensor on
// port: the identity and the settings read from the sensor itself.
bool CaptureConnected(const std::string& port, const std::string& folder) {
  test::UiHarness h;
  h.ports = {port};
  CVarnelDlg main(h.services);
  auto text = [&main](int id) { return main.Control(id)->Text(); };
  bool written = false;
  const bool ran =
      test::UiScript()
          .When("connect dialog", [] { return test::ActiveModal<CConnectDlg>() != nullptr; },
                [] { test::ActiveModal<CConnectDlg>()->OnConnect(); })
          // The start-up reads the identity twice; the picture shows the second reading whole.
          .WaitFor("second identity query", [&] { return main.Watch().IdentityRequeried(); }, 20s)
          .When("identity and settings shown",
                [&] { return main.Control(main_ids::EditDeviceInfo)->LineCount() > 3 && !text(main_ids::EditSerialNodeAddr).empty(); },
                [&] {
                  written = Capture(main, folder, "main-connected.png");
                  main.EndDialog(kIdCancel);
                },
                20s)
          .RunDuring([&] { main.RunModal(); });
  return ran && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: varnel-dialog-shot <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = true;

  {
    test::UiHarness h;
    h.ports = {"COM3", "COM4"};
    CConnectDlg connect(h.services);
    ok &= CaptureModal(connect, folder, "connect.png");
  }
  {
    test::UiHarness h;
    CVarnelDlg main(h.services);
    main.FillSettingLists();
    main.Control(main_ids::ProductionRegister)->Show(false);  // as the running program hides it
    test::ShowWindow(main);
    main.OnDeviceInfo(0xFFFFFFFFu, std::nullopt);
    main.OnDeviceInfo(0, FormatFirmwareVersionLine(1, 2, 3));
    main.OnDeviceInfo(0, FormatHardwareVersionLine(4, 5, 6));
    main.OnDeviceInfo(0, FormatSerialNumberLine(24, 3, Utf8ToCodePage("WWWWWWWW")));
    h.session.Settings().serialNodeAddress = 0xDD;
    h.session.Settings().canNodeId = 0x1FFFFFFF;
    h.session.Settings().canFrameType = 1;
    main.ShowSettings();
    test::WaitUntil([&] { return test::IsWindowVisible(main); }, 5s, [] { test::ProcessEvents(); });
    ok &= Capture(main, folder, "main.png");
    test::DiscardPendingNotifications();
  }
  {
    test::UiHarness h;
    constexpr std::uint32_t kImageSize = 64 * 1024;
    const int chunks = static_cast<int>(OtaChunkCount(kImageSize));
    FirmwareDownloadHooks hooks;
    hooks.imageSize = kImageSize;
    hooks.start = [] { return FirmwareLoadResult::Ok; };
    CProgressDlg progress(h.windows, h.op, hooks);
    test::RunSoon([&] {
      h.poster.Post(kProgressDialogCaption,
                    Notification{WM_FW_PROGRESS, PROGRESS_TOTAL, static_cast<std::uint32_t>(chunks), {}});
      for (int i = 0; i < chunks; ++i) h.poster.Post(kProgressDialogCaption, Notification{WM_FW_PROGRESS, PROGRESS_STEP, 0, {}});
    });
    ok &= CaptureModal(progress, folder, "progress.png", [&] { return progress.DoneChunks() == chunks; });
  }
  {
    test::UiHarness h;
    CDevRegister registration(h.services);
    ok &= CaptureModal(registration, folder, "registration.png");
  }
  if (const std::string port = test::SimRelay::Port(); !port.empty()) ok &= CaptureConnected(port, folder);
  return ok ? 0 : 1;
}
