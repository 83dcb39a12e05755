// The firmware row of the main window: the image path (1001) and "下载" (1002).
// Everything that can refuse the image is checked before the link watch and
// the card poll are paused, so a refusal leaves the window exactly as it was.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"
#include "ui/VarnelDlg.h"
#include "ui/rules/DisplayText.h"
#include "ui/rules/FirmwareImageCheck.h"

namespace varnel {

void CVarnelDlg::RegisterFirmwareHandlers() {
  On(main_ids::Download, Notify::Clicked, [this] { OnDownloadFirmware(); });
  // The verdict of a transfer whose progress window was closed once the whole
  // image had gone out; the link watch waited for it.
  OnMessage(WM_FW_PROGRESS, [this](Notification& n) {
    const std::optional<FirmwareVerdict> verdict = VerdictOfProgress(n.wParam, n.lParam);
    if (!verdict) return;
    ShowFirmwareVerdict(services_.op, *verdict, MessageOwner::MainWindow);
    if (!HasTimer(TIMER_LINK_WATCH)) SetTimer(TIMER_LINK_WATCH, 1000);
  });
}

void CVarnelDlg::OnDownloadFirmware() {
  const DialogControl* edit = Control(main_ids::FirmwarePath);
  const std::string path = edit ? edit->Text() : std::string();

  // A name that is no image's is refused before anything else is looked at
  // (the check reads no file then).
  if (!LooksLikeFirmwarePath(path)) {
    Warn(CheckFirmwareImage(path).refusal);
    return;
  }
  // The window of the last download was closed while the sensor still checked
  // the image: a new one now would leave that one without its verdict.
  if (services_.session.Firmware().State().Active()) {
    Warn("传感器正在校验上一次下载的固件，请等待结果后再下载");
    return;
  }
  // Read whole now: a missing, unreadable, empty or oversized file
  // is refused while nothing has been stopped or sent.
  FirmwareImageCheck check = CheckFirmwareImage(path);
  if (!check.Accepted()) {
    Warn(check.refusal);
    return;
  }

  KillTimer(TIMER_LINK_WATCH);
  const bool cardPollWasRunning = services_.session.IsCardPollRunning();
  services_.session.StopCardPoll();  // the search itself stays on: caption and flag unchanged

  FirmwareDownloadHooks hooks;
  hooks.imageSize = static_cast<std::uint32_t>(check.image.size());
  hooks.start = [this, image = std::move(check.image)]() mutable {
    return services_.session.Firmware().StartFirmwareDownload(std::move(image));
  };
  hooks.abandon = [this] { services_.session.Firmware().AbandonFirmwareTransfer(); };
  hooks.status = [this] { return services_.session.Firmware().State(); };
  hooks.handOver = [this] {
    return services_.session.Firmware().RedirectVerdict(std::string(kMainDialogCaption));
  };
  CProgressDlg progress(services_.windows, services_.op, std::move(hooks), this);
  if (progressDialogHook_) progressDialogHook_(progress);

  // Lets a card read released by the poll's stop come back before the transfer
  // starts. Without a poll there is nothing in flight to wait for.
  if (cardPollWasRunning) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  progress.RunModal();  // sends the begin request once its window can be found
  if (const auto started = progress.StartResult(); started && *started != FirmwareLoadResult::Ok)
    Warn(FirmwareStartRefusal(*started));

  if (progress.HandedOver()) {
    const std::optional<FirmwareVerdict> verdict = progress.LateVerdict();
    // Still under way: keep-alives would only compete with the sensor's image
    // check; the link watch starts again with the verdict.
    if (!verdict && services_.session.Firmware().State().Active()) return;
    if (verdict) ShowFirmwareVerdict(services_.op, *verdict, MessageOwner::MainWindow);
  }
  SetTimer(TIMER_LINK_WATCH, 1000);
}

}  // namespace varnel
