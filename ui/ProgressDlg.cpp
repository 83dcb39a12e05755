#include "ui/ProgressDlg.h"

#include <algorithm>

#include "platform/MessageBox.h"
#include "protocol/Notifications.h"
#include "ui/rules/DisplayText.h"

namespace varnel {
namespace {

constexpr char kControlsMissing[] = "Progress或Static对象不存在";
constexpr char kBarMissing[] = "Progress对象不存在";
constexpr char kBadParameter[] = "Progress非法参数";
constexpr char kCannotLeave[] = "固件下载过程中不可退出";
constexpr char kSucceeded[] = "固件下载成功，请重启传感器";
// The counter box is narrow; the line under the bar says what to do.
constexpr char kStalledCounter[] = "无响应";
constexpr char kStalledLine[] = "传感器无响应，可关闭窗口";

constexpr std::chrono::seconds kRatePeriod{1};

void ShowChildMessage(const std::string& text, const char* caption = "") {
  ShowMessage(text, caption, MessageButtons::Ok, MessageOwner::ActiveDialog);
}

// The sensor refused the image it received; the words of its status replies.
std::string RefusedText(std::uint32_t status) {
  std::string reason;
  switch (status) {
    case 1: reason = "无效指令"; break;
    case 2: reason = "内部错误"; break;
    case 3: reason = "校验失败"; break;
    default: reason = "状态 " + std::to_string(status); break;
  }
  return "固件下载失败（传感器回复：" + reason + "），请重新下载";
}

}  // namespace

CProgressDlg::CProgressDlg(WindowRegistry& windows, FirmwareDownloadHooks hooks,
                           std::chrono::milliseconds stallLimit, QWidget* parent)
    : CProgressDlg(windows, std::move(hooks), stallLimit, ProgressDialogTemplate(), parent) {}

CProgressDlg::CProgressDlg(WindowRegistry& windows, FirmwareDownloadHooks hooks,
                           std::chrono::milliseconds stallLimit, const DialogTemplate& dialogTemplate,
                           QWidget* parent)
    : Dialog(dialogTemplate, parent, &windows), hooks_(std::move(hooks)), stallLimit_(stallLimit) {
  OnMessage(WM_FW_PROGRESS, [this](Notification& n) { OnProgress(n.wParam, n.lParam); });
}

void CProgressDlg::OnInitDialog() {
  // The window can be found by its caption from here on, so the first
  // notification of the transfer finds it however early it comes.
  startedAt_ = lastProgressAt_ = Clock::now();
  if (hooks_.start) {
    startResult_ = hooks_.start();
    if (*startResult_ != FirmwareLoadResult::Ok) {
      EndDialog(kIdCancel);
      return;
    }
    transferStarted_ = true;
  }
  const auto check = std::clamp(stallLimit_ / 10, std::chrono::milliseconds(10), std::chrono::milliseconds(500));
  SetTimer(TIMER_STALL_CHECK, static_cast<int>(check.count()));
}

void CProgressDlg::OnProgress(std::uint32_t wParam, std::uint32_t lParam) {
  const Clock::time_point now = Clock::now();
  lastProgressAt_ = now;
  const bool wasStalled = stalled_;
  stalled_ = false;

  if (wParam == PROGRESS_TOTAL || wParam == PROGRESS_STEP) {
    DialogControl* bar = Control(progress_ids::Bar);
    DialogControl* counter = Control(progress_ids::Counter);
    if (!bar || !counter) {
      ShowChildMessage(kControlsMissing);
      return;
    }
    if (wParam == PROGRESS_TOTAL) {
      totalChunks_ = static_cast<int>(lParam);
      doneChunks_ = 0;
      // The bar counts in 16 bits; the transfer never announces more than 65535 chunks.
      bar->SetRange(0, static_cast<std::uint16_t>(lParam));
      bar->SetStep(1);
    } else {
      ++doneChunks_;
      bar->StepIt();
    }
    ShowCounter();
    if (wasStalled) lastRateAt_.reset();  // replace the stall text at once
    UpdateRateLine(now);
    return;
  }
  if (wParam == PROGRESS_DONE || wParam == PROGRESS_FAILED) {
    finished_ = true;
    KillTimer(TIMER_STALL_CHECK);
    if (wasStalled) ShowCounter();
    if (wParam == PROGRESS_DONE)
      ShowChildMessage(kSucceeded, "提示");
    else
      ShowChildMessage(RefusedText(lParam), "警告");
    EndDialog(kIdCancel);
    return;
  }
  ShowChildMessage(kBadParameter);
}

void CProgressDlg::ShowCounter() {
  if (DialogControl* counter = Control(progress_ids::Counter))
    counter->SetText(ProgressCounterText(doneChunks_, totalChunks_));
}

void CProgressDlg::UpdateRateLine(Clock::time_point now) {
  DialogControl* line = Control(progress_ids::RateLine);
  if (!line || hooks_.imageSize == 0) return;
  const std::uint64_t size = hooks_.imageSize;
  const std::uint64_t bytesDone =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(doneChunks_, 0)) * OTA_CHUNK_SIZE, size);
  if (bytesDone == 0) {
    // Nothing to measure yet: the placeholder, not counted as an update.
    if (!lastRateAt_) line->SetText(TransferRateText(0, size, 0));
    return;
  }
  if (lastRateAt_ && now - *lastRateAt_ < kRatePeriod) return;
  lastRateAt_ = now;
  line->SetText(TransferRateText(bytesDone, size, std::chrono::duration<double>(now - startedAt_).count()));
}

void CProgressDlg::ShowStalled() {
  stalled_ = true;
  if (DialogControl* counter = Control(progress_ids::Counter)) counter->SetText(kStalledCounter);
  if (DialogControl* line = Control(progress_ids::RateLine)) line->SetText(kStalledLine);
}

void CProgressDlg::OnTimer(int id) {
  if (id != TIMER_STALL_CHECK || finished_ || stalled_) return;
  if (Clock::now() - lastProgressAt_ >= stallLimit_) ShowStalled();
}

void CProgressDlg::OnOK() { TryClose(kIdOk); }

void CProgressDlg::OnCancel() { TryClose(kIdCancel); }

void CProgressDlg::TryClose(int result) {
  // A sensor that no longer answers must not lock the operator in.
  if (!stalled_) {
    DialogControl* bar = Control(progress_ids::Bar);
    if (!bar) {
      ShowChildMessage(kBarMissing);
      return;
    }
    if (bar->Position() < totalChunks_) {
      ShowChildMessage(kCannotLeave, "警告");
      return;
    }
  }
  // Leaving before the sensor has confirmed the end of the image gives the
  // download up: whatever the sensor still answers sends nothing more.
  if (transferStarted_ && !finished_ && hooks_.abandon) hooks_.abandon();
  totalChunks_ = 0;
  EndDialog(result);
}

}  // namespace varnel
