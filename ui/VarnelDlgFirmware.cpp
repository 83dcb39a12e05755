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

namespace varnel {
namespace {

std::string RefusalText(FirmwareLoadResult result) {
  switch (result) {
    case FirmwareLoadResult::Ok: break;
    case FirmwareLoadResult::IsDirectory: return "所选路径是文件夹，不是MCU固件文件";
    case FirmwareLoadResult::CannotOpen: return "无法打开MCU固件文件";
    case FirmwareLoadResult::CannotRead: return "无法读取MCU固件文件";
    case FirmwareLoadResult::Empty: return "MCU固件文件为空";
    case FirmwareLoadResult::TooLarge:
      return "MCU固件文件过大，最大为" + std::to_string(std::uint64_t{kMaxOtaChunks} * OTA_CHUNK_SIZE) + "字节";
  }
  return {};
}

}  // namespace

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
  namespace fs = std::filesystem;
  const DialogControl* edit = Control(main_ids::FirmwarePath);
  const std::string path = edit ? edit->Text() : std::string();

  if (!LooksLikeFirmwarePath(path)) {
    Warn("不是有效的MCU固件");
    return;
  }
  // The window of the last download was closed while the sensor still checked
  // the image: a new one now would leave that one without its verdict.
  if (services_.session.Firmware().State().Active()) {
    Warn("传感器正在校验上一次下载的固件，请等待结果后再下载");
    return;
  }
  // The edit holds UTF-8 on every platform.
  const fs::path file(std::u8string(path.begin(), path.end()));
  std::error_code error;
  if (fs::status(file, error).type() == fs::file_type::not_found) {
    Warn("MCU固件不存在");
    return;
  }
  // Read it whole now: a folder, an unreadable, empty or oversized file is
  // refused while nothing has been stopped or sent.
  std::vector<std::uint8_t> image;
  if (const FirmwareLoadResult loaded = LoadFirmwareImage(file, image); loaded != FirmwareLoadResult::Ok) {
    Warn(RefusalText(loaded));
    return;
  }

  KillTimer(TIMER_LINK_WATCH);
  const bool cardPollWasRunning = services_.session.IsCardPollRunning();
  services_.session.StopCardPoll();  // the search itself stays on: caption and flag unchanged

  FirmwareDownloadHooks hooks;
  hooks.imageSize = static_cast<std::uint32_t>(image.size());
  hooks.start = [this, image = std::move(image)]() mutable {
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
    Warn(RefusalText(*started));

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
