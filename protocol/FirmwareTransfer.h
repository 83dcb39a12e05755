#pragma once
// The firmware update exchange: begin (0xF0), image description (0xF1), the
// image in chunks of 248 bytes (0xF2), end of image (0xF3), finish (0xF4).
// Strictly stop-and-wait: each request goes out when the status reply to it
// arrives. Only the end-of-image and finish statuses are examined: they are the
// sensor's verdict on the image.
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/FrameSender.h"
#include "link/LinkFrame.h"
#include "link/TrafficDump.h"
#include "platform/HighResTimer.h"
#include "protocol/Notifications.h"

namespace varnel {

constexpr std::uint32_t OTA_CHUNK_SIZE = 248;  // 8 + 248 = the 256-byte payload a frame holds
// The progress bar counts chunks in 16 bits.
constexpr std::uint32_t kMaxOtaChunks = 65535;

// Why an image was refused; nothing is sent unless the answer is Ok.
enum class FirmwareLoadResult {
  Ok,
  CannotOpen,   // missing, or the system refused to open it
  CannotRead,   // opened, but not read whole (or not a regular file)
  Empty,        // 0 bytes
  TooLarge,     // 4 GiB or more, or more than 65535 chunks
  IsDirectory,
};

// Reads the whole file into image. On anything but Ok, image is left empty.
FirmwareLoadResult LoadFirmwareImage(const std::filesystem::path& path, std::vector<std::uint8_t>& image);
// The size and chunk-count limits alone, for an image already in memory.
FirmwareLoadResult CheckFirmwareImageSize(std::uint64_t size);
// Chunks an image of this size is sent in.
std::uint32_t OtaChunkCount(std::uint32_t size);

// The request of the exchange whose answer is awaited, Idle when none is. A
// reply that does not answer it (a duplicate, a late one, one nothing asked
// for) is ignored.
enum class OtaStage : std::uint8_t {
  Idle,      // no transfer under way
  Begin,     // CMD_OTA_BEGIN sent
  FileInfo,  // CMD_OTA_FILE_INFO sent
  Chunk,     // a CMD_OTA_FILE_CHUNK sent (chunkIndex)
  End,       // CMD_OTA_END sent: the sensor checks the whole image
  Finish,    // CMD_OTA_FINISH sent
};

// How long the transfer waits for an answer.
struct FirmwareTransferTimeouts {
  // Until the last chunk has gone out, a step that takes longer counts as
  // stalled: the progress window says so and lets the operator give up. The
  // transfer itself goes on, so a slow step that is answered still succeeds.
  std::chrono::milliseconds stall{10000};
  // Once the last chunk has gone out the operator may close the window and the
  // transfer carries on alone; each remaining step (the last chunk's answer,
  // the image check, the finish) that takes longer ends it as unanswered.
  std::chrono::milliseconds imageCheck{30000};
};

// How a transfer ended. Every transfer ends exactly once.
enum class FirmwareOutcome : std::uint8_t {
  Done,       // the sensor accepted the image and finished
  Refused,    // the end of image or the finish was answered with a failure status
  NoAnswer,   // a step after the last chunk was not answered in time
  Abandoned,  // the operator gave up, or a new download took its place; nothing is posted
};

struct FirmwareVerdict {
  FirmwareOutcome outcome = FirmwareOutcome::Done;
  std::uint32_t status = 0;  // Refused: the status the sensor answered
  bool operator==(const FirmwareVerdict&) const = default;
};

// The WM_FW_PROGRESS step a posted verdict travels as (not for Abandoned), and
// the verdict a progress notification carries, if it carries one.
ProgressStep ProgressStepOf(FirmwareOutcome outcome);
std::optional<FirmwareVerdict> VerdictOfProgress(std::uint32_t wParam, std::uint32_t lParam);

// A copy of where the transfer stands, for the progress window, tests and diagnostics.
struct FirmwareTransferState {
  OtaStage stage = OtaStage::Idle;
  std::uint32_t chunkIndex = 0;  // the chunk requested, from 0, while stage is Chunk
  std::uint32_t imageSize = 0;   // the image under way; 0 when none is
  std::optional<FirmwareVerdict> ending;  // how the last transfer ended; none while one runs
  std::chrono::milliseconds waiting{0};   // since the request outstanding went out
  bool stalled = false;                   // waiting longer than the stall limit, before the last chunk went out
  bool Active() const { return stage != OtaStage::Idle; }
};

// Threads: StartFirmwareDownload, AbandonFirmwareTransfer and Shutdown run on
// the UI thread, OnOtaReply on the reader thread, CheckTimeouts on the
// transfer's own watchdog thread (from the last chunk on) or a test's. The
// record is guarded by one mutex. Frames are sent and notifications posted
// while it is held, so that once Abandon returns no frame of the abandoned
// exchange can still leave, and so that the verdict goes to exactly one
// window; the lock order is this mutex, then the link's send locks or the
// poster's, and neither calls back into the transfer. A post that finds no
// window is reported after the mutex is released: the report is a message
// box that waits for the UI thread, which may itself be waiting for this mutex.
class FirmwareTransfer {
 public:
  using Clock = std::chrono::steady_clock;

  FirmwareTransfer(FrameSender& sender, const Operator& op);
  ~FirmwareTransfer();  // Shutdown()
  FirmwareTransfer(const FirmwareTransfer&) = delete;
  FirmwareTransfer& operator=(const FirmwareTransfer&) = delete;

  // Loads the image and, only when it is acceptable, sends CMD_OTA_BEGIN; a
  // transfer still under way then ends as abandoned. A refused image leaves
  // everything as it was and sends nothing.
  FirmwareLoadResult StartFirmwareDownload(const std::filesystem::path& path);
  // The same with an image already in memory (benchmarks, tests).
  FirmwareLoadResult StartFirmwareDownload(std::vector<std::uint8_t> image);

  // A status reply 0xF0..0xF4. Acted on only when it answers the request
  // outstanding; anything else sends and posts nothing.
  void OnOtaReply(const LinkFrame& reply);

  // Ends the transfer under way as abandoned: replies that arrive later send
  // nothing. Used when the operator gives up on a stalled download before its
  // last chunk. A transfer that has ended already keeps its outcome.
  void AbandonFirmwareTransfer();

  // The progress window closes with the whole image sent: the transfer goes on
  // and its verdict goes to the window with this caption instead. Answers the
  // verdict when it has been reached already (it was posted to the window that
  // is closing, which will not handle it), so the caller shows it.
  std::optional<FirmwareVerdict> RedirectVerdict(std::string caption);

  // Ends the transfer as unanswered when a step after the last chunk has
  // waited longer than its patience. The watchdog calls it; tests may too.
  void CheckTimeouts();

  // Set before a transfer starts (tests use short time-outs or their own clock).
  void SetTimeouts(FirmwareTransferTimeouts timeouts);
  void SetClock(std::function<Clock::time_point()> clock);

  // Stops the watchdog and waits for its thread. UI thread; before exit.
  void Shutdown();

  FirmwareTransferState State() const;

  // Where the per-chunk lines go, beside the traffic dump; none by default.
  void SetDiagnosticSink(TrafficLog* log) { diagnostics_.store(log); }

 private:
  // Notifications posted under the mutex that found no window.
  struct Unposted {
    std::uint32_t codes[4];
    int count = 0;
  };

  // These run with mutex_ held.
  bool Active() const { return stage_ != OtaStage::Idle; }
  bool ImageSent() const;  // the last chunk has gone out
  void SendNextOtaChunk(Unposted& unposted);
  void Send(LinkFrame frame);
  void Post(Unposted& unposted, std::uint32_t code, std::uint32_t value);
  // The one way a transfer ends: records the outcome, stops the watchdog and
  // posts the verdict (an abandoned transfer posts nothing).
  void Conclude(FirmwareVerdict verdict, Unposted& unposted);
  std::unique_ptr<HighResTimer> TakeWatchdog();

  void Diagnostic(const char* format, int chunk);
  // After the mutex is released. mayWait: the caller may block on a message box.
  void ReportUnposted(const Unposted& unposted, bool mayWait);

  FrameSender& sender_;
  const Operator operator_;  // outlives the transfer
  std::atomic<TrafficLog*> diagnostics_{nullptr};  // set before a transfer, read on the reader thread

  mutable std::mutex mutex_;             // guards everything below
  OtaStage stage_ = OtaStage::Idle;
  std::uint32_t chunkIndex_ = 0;         // the chunk requested while stage_ is Chunk
  std::vector<std::uint8_t> image_;      // held from the start to the ending
  std::uint16_t imageCrc_ = 0;
  std::uint8_t imageStatus_ = 0;         // the sensor's verdict on the image, from its end-of-image answer
  std::optional<FirmwareVerdict> ending_;  // how the last transfer ended
  FirmwareTransferTimeouts timeouts_;
  std::function<Clock::time_point()> clock_ = [] { return Clock::now(); };
  Clock::time_point sentAt_{};           // when the request outstanding went out
  std::string verdictCaption_;           // the window the verdict goes to
  std::unique_ptr<HighResTimer> watchdog_;  // made on the reader thread, destroyed on the UI thread outside the mutex
};

}  // namespace varnel
