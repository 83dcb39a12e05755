#pragma once
// The firmware download's progress window: a bar and a "done/total" counter
// driven by WM_FW_PROGRESS from the transfer, a line with the speed and the
// time left, and close commands that are refused while chunks are still due.
//
// The window starts the transfer itself, once it can be found by its caption,
// so no early notification can miss it. If the sensor stops answering, the
// window says so and lets the operator leave; leaving before the transfer has
// finished abandons it, so replies that still come send nothing.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

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
};

class CProgressDlg : public Dialog {
 public:
  static constexpr std::chrono::milliseconds kDefaultStallLimit{10000};
  static constexpr int TIMER_STALL_CHECK = 0x1101;

  explicit CProgressDlg(WindowRegistry& windows, FirmwareDownloadHooks hooks = {},
                        std::chrono::milliseconds stallLimit = kDefaultStallLimit, QWidget* parent = nullptr);
  CProgressDlg(WindowRegistry& windows, FirmwareDownloadHooks hooks, std::chrono::milliseconds stallLimit,
               const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

  // WM_FW_PROGRESS: PROGRESS_TOTAL with the chunk count, PROGRESS_STEP, PROGRESS_DONE.
  void OnProgress(std::uint32_t wParam, std::uint32_t lParam);

  // How long without any progress notification before the sensor counts as
  // no longer answering. Takes effect at the next modal run.
  void SetStallLimit(std::chrono::milliseconds limit) { stallLimit_ = limit; }
  std::chrono::milliseconds StallLimit() const { return stallLimit_; }

  int TotalChunks() const { return totalChunks_; }
  int DoneChunks() const { return doneChunks_; }
  bool Stalled() const { return stalled_; }
  bool Finished() const { return finished_; }
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
  void ShowCounter();
  void ShowStalled();
  // At most once a second, apart from the first figures.
  void UpdateRateLine(Clock::time_point now);

  FirmwareDownloadHooks hooks_;
  std::chrono::milliseconds stallLimit_;
  // All of the following: UI thread only.
  int totalChunks_ = 0;
  int doneChunks_ = 0;
  std::optional<FirmwareLoadResult> startResult_;
  bool transferStarted_ = false;  // the begin request went out in this run
  bool finished_ = false;         // PROGRESS_DONE arrived
  bool stalled_ = false;          // no progress for stallLimit_
  Clock::time_point startedAt_{};
  Clock::time_point lastProgressAt_{};
  std::optional<Clock::time_point> lastRateAt_;  // last time the line showed real figures
};

}  // namespace varnel
