#pragma once
// The firmware download's progress window: a bar and a "done/total" counter
// driven by WM_FW_PROGRESS from the transfer, a line with the speed and the
// time left, and close commands that are refused while chunks are still due.
//
// The window starts the transfer itself, once it can be found by its caption,
// so no early notification can miss it. If the sensor stops answering before
// the last chunk has gone out, the window says so and lets the operator leave,
// which abandons the transfer. Once the last chunk has gone out (N/N) the
// window may always be closed and the transfer goes on to its end: its
// verdict then goes to the main window.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/Operator.h"
#include "protocol/FirmwareTransfer.h"
#include "ui/DialogTemplates.h"
#include "ui/framework/Dialog.h"

namespace varnel {

class WindowRegistry;

// What the window needs of the transfer it shows.
struct FirmwareDownloadHooks {
  std::uint32_t imageSize = 0;                // bytes; 0 leaves the speed line empty
  std::function<FirmwareLoadResult()> start;  // sends the begin request
  std::function<void()> abandon;              // replies that come later send nothing
  // The transfer as it stands, looked at while the window is open (how long
  // the sensor has been silent, whether that counts as a stall).
  std::function<FirmwareTransferState()> status;
  // The window closes with the whole image sent: the verdict goes elsewhere
  // from now on; answers it when it had been reached already.
  std::function<std::optional<FirmwareVerdict>()> handOver;
};

// Shows how a transfer ended in a box over owner. An abandoned transfer has
// nothing to say: the operator gave it up.
void ShowFirmwareVerdict(const Operator& op, const FirmwareVerdict& verdict, MessageOwner owner);

class CProgressDlg : public Dialog {
 public:
  static constexpr int TIMER_STATUS = 0x1101;
  static constexpr std::chrono::milliseconds kStatusPeriod{100};
  // No answer for longer than this and the speed line stops showing figures.
  static constexpr std::chrono::milliseconds kNotAnsweredAfter{2000};

  // op: where the dialog's boxes go.
  CProgressDlg(WindowRegistry& windows, const Operator& op, FirmwareDownloadHooks hooks = {}, Dialog* parent = nullptr);
  CProgressDlg(WindowRegistry& windows, const Operator& op, FirmwareDownloadHooks hooks,
               const DialogTemplate& dialogTemplate, Dialog* parent = nullptr);

  // WM_FW_PROGRESS: PROGRESS_TOTAL with the chunk count, PROGRESS_STEP, or a verdict.
  void OnProgress(std::uint32_t wParam, std::uint32_t lParam);

  int TotalChunks() const { return totalChunks_; }
  int DoneChunks() const { return doneChunks_; }
  bool Stalled() const { return stalled_; }
  bool Finished() const { return finished_; }
  // Closed with the whole image sent and no verdict seen: the transfer goes on.
  bool HandedOver() const { return handedOver_; }
  // The verdict the transfer had reached when the window handed over, if any.
  std::optional<FirmwareVerdict> LateVerdict() const { return lateVerdict_; }
  // What the start hook answered; nullopt while it has not run.
  std::optional<FirmwareLoadResult> StartResult() const { return startResult_; }

 protected:
  void OnInitDialog() override;
  void OnOK() override;      // Enter
  void OnCancel() override;  // Escape, the close box
  void OnTimer(int id) override;

 private:
  using Clock = std::chrono::steady_clock;

  // Closes with result unless chunks are still due and the sensor still answers.
  void TryClose(int result);
  bool AllChunksSent() const { return totalChunks_ > 0 && doneChunks_ >= totalChunks_; }
  void ShowCounter();
  void ShowStalled();
  // Figures at most once a second; the average at once when all chunks are sent.
  void UpdateRateLine(Clock::time_point now, std::chrono::milliseconds silentFor);
  void ShowChildMessage(const std::string& text, const char* caption = "");

  const Operator operator_;  // outlives the dialog
  FirmwareDownloadHooks hooks_;
  // All of the following: UI thread only.
  int totalChunks_ = 0;
  int doneChunks_ = 0;
  std::optional<FirmwareLoadResult> startResult_;
  bool transferStarted_ = false;  // the begin request went out in this run
  bool finished_ = false;         // the verdict arrived
  bool stalled_ = false;          // the transfer counts the sensor as stalled
  bool handedOver_ = false;
  std::optional<FirmwareVerdict> lateVerdict_;
  Clock::time_point startedAt_{};
  std::optional<Clock::time_point> lastRateAt_;  // last time the line showed real figures
  bool notAnsweredShown_ = false;                // the line says the sensor has not answered yet
  bool averageShown_ = false;                    // the line shows the whole image's average
};

}  // namespace varnel
