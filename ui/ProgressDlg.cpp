#include "ui/ProgressDlg.h"

#include <algorithm>

#include "protocol/CommandSet.h"
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
constexpr char kNoAnswer[] = "固件下载失败（传感器未应答），请重新下载";

constexpr std::chrono::seconds kRatePeriod{1};

// The sensor refused the image it received: in the words of its status
// replies. A refusal never carries the success status; a stray one shows its number.
std::string RefusedText(std::uint32_t status) {
  const std::optional<std::string_view> words = status != 0 ? StatusReplyText(status) : std::nullopt;
  const std::string reason = words ? std::string(*words) : "状态 " + std::to_string(status);
  return "固件下载失败（传感器回复：" + reason + "），请重新下载";
}

}  // namespace

void ShowFirmwareVerdict(const Operator& op, const FirmwareVerdict& verdict, MessageOwner owner) {
  switch (verdict.outcome) {
    case FirmwareOutcome::Done: op.ShowMessage(kSucceeded, "提示", MessageButtons::Ok, owner); break;
    case FirmwareOutcome::Refused: op.ShowMessage(RefusedText(verdict.status), "警告", MessageButtons::Ok, owner); break;
    case FirmwareOutcome::NoAnswer: op.ShowMessage(kNoAnswer, "警告", MessageButtons::Ok, owner); break;
    case FirmwareOutcome::Abandoned: break;
  }
}

CProgressDlg::CProgressDlg(WindowRegistry& windows, const Operator& op, FirmwareDownloadHooks hooks, Dialog* parent)
    : CProgressDlg(windows, op, std::move(hooks), ProgressDialogTemplate(), parent) {}

CProgressDlg::CProgressDlg(WindowRegistry& windows, const Operator& op, FirmwareDownloadHooks hooks,
                           const DialogTemplate& dialogTemplate, Dialog* parent)
    : Dialog(dialogTemplate, parent, &windows), operator_(op), hooks_(std::move(hooks)) {
  OnMessage(WM_FW_PROGRESS, [this](Notification& n) { OnProgress(n.wParam, n.lParam); });
}

void CProgressDlg::OnInitDialog() {
  // The window can be found by its caption from here on, so the first
  // notification of the transfer finds it however early it comes.
  startedAt_ = Clock::now();
  if (hooks_.start) {
    startResult_ = hooks_.start();
    if (*startResult_ != FirmwareLoadResult::Ok) {
      EndDialog(kIdCancel);
      return;
    }
    transferStarted_ = true;
  }
  SetTimer(TIMER_STATUS, static_cast<int>(kStatusPeriod.count()));
}

void CProgressDlg::OnProgress(std::uint32_t wParam, std::uint32_t lParam) {
  const Clock::time_point now = Clock::now();
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
    // A chunk went out because the sensor answered the one before.
    if (stalled_ || notAnsweredShown_) lastRateAt_.reset();  // replace those texts at once
    stalled_ = false;
    notAnsweredShown_ = false;
    ShowCounter();
    UpdateRateLine(now, std::chrono::milliseconds(0));
    return;
  }
  if (const std::optional<FirmwareVerdict> verdict = VerdictOfProgress(wParam, lParam)) {
    finished_ = true;
    KillTimer(TIMER_STATUS);
    if (stalled_) ShowCounter();
    ShowFirmwareVerdict(operator_, *verdict, MessageOwner::ActiveDialog);
    EndDialog(kIdCancel);
    return;
  }
  ShowChildMessage(kBadParameter);
}

void CProgressDlg::ShowCounter() {
  if (DialogControl* counter = Control(progress_ids::Counter))
    counter->SetText(ProgressCounterText(doneChunks_, totalChunks_));
}

void CProgressDlg::UpdateRateLine(Clock::time_point now, std::chrono::milliseconds silentFor) {
  DialogControl* line = Control(progress_ids::RateLine);
  if (!line || hooks_.imageSize == 0) return;
  const std::uint64_t size = hooks_.imageSize;
  const double elapsed = std::chrono::duration<double>(now - startedAt_).count();
  if (AllChunksSent()) {
    // The whole image is out: the average it took, set once, with nothing left to count down.
    if (!averageShown_) line->SetText(TransferAverageText(size, elapsed));
    averageShown_ = true;
    return;
  }
  if (silentFor > kNotAnsweredAfter) {
    // Figures computed from the last answer would go on counting down.
    if (!notAnsweredShown_) line->SetText(kSensorNotAnsweredYet);
    notAnsweredShown_ = true;
    return;
  }
  if (notAnsweredShown_) lastRateAt_.reset();
  notAnsweredShown_ = false;
  const std::uint64_t bytesDone =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(doneChunks_, 0)) * OTA_CHUNK_SIZE, size);
  if (bytesDone == 0) {
    // Nothing to measure yet: the placeholder, not counted as an update.
    if (!lastRateAt_ && line->Text() != TransferRateText(0, size, 0)) line->SetText(TransferRateText(0, size, 0));
    return;
  }
  if (lastRateAt_ && now - *lastRateAt_ < kRatePeriod) return;
  lastRateAt_ = now;
  line->SetText(TransferRateText(bytesDone, size, elapsed));
}

void CProgressDlg::ShowStalled() {
  stalled_ = true;
  if (DialogControl* counter = Control(progress_ids::Counter)) counter->SetText(kStalledCounter);
  if (DialogControl* line = Control(progress_ids::RateLine)) line->SetText(kStalledLine);
}

void CProgressDlg::OnTimer(int id) {
  if (id != TIMER_STATUS || finished_ || !hooks_.status) return;
  const FirmwareTransferState status = hooks_.status();
  if (!status.Active()) return;
  if (status.stalled && !AllChunksSent()) {
    if (!stalled_) ShowStalled();
    return;
  }
  if (stalled_) {
    // The sensor answered after all (a slow step); the transfer never stopped.
    stalled_ = false;
    lastRateAt_.reset();
    ShowCounter();
  }
  UpdateRateLine(Clock::now(), status.waiting);
}

void CProgressDlg::OnOK() { TryClose(kIdOk); }

void CProgressDlg::OnCancel() { TryClose(kIdCancel); }

void CProgressDlg::TryClose(int result) {
  DialogControl* bar = Control(progress_ids::Bar);
  if (!bar) {
    ShowChildMessage(kBarMissing);
    return;
  }
  if (totalChunks_ > 0 && bar->Position() >= totalChunks_) {
    // The whole image is out: what is left is the sensor's, and giving it up
    // now would leave a received image never finished. The transfer goes on
    // and its verdict goes to the main window.
    if (transferStarted_ && !finished_) {
      handedOver_ = true;
      if (hooks_.handOver) lateVerdict_ = hooks_.handOver();
    }
    totalChunks_ = 0;
    EndDialog(result);
    return;
  }
  // A sensor that no longer answers must not lock the operator in.
  if (!stalled_ && bar->Position() < totalChunks_) {
    ShowChildMessage(kCannotLeave, "警告");
    return;
  }
  // Leaving before the last chunk gives the download up: whatever the sensor
  // still answers sends nothing more.
  if (transferStarted_ && !finished_ && hooks_.abandon) hooks_.abandon();
  totalChunks_ = 0;
  EndDialog(result);
}

void CProgressDlg::ShowChildMessage(const std::string& text, const char* caption) {
  operator_.ShowMessage(text, caption, MessageButtons::Ok, MessageOwner::ActiveDialog);
}

}  // namespace varnel
