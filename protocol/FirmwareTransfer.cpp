#include "protocol/FirmwareTransfer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>

#include "protocol/CommandSet.h"

namespace varnel {

std::uint32_t OtaChunkCount(std::uint32_t size) {
  return size / OTA_CHUNK_SIZE + (size % OTA_CHUNK_SIZE ? 1 : 0);
}

FirmwareLoadResult CheckFirmwareImageSize(std::uint64_t size) {
  if (size == 0) return FirmwareLoadResult::Empty;
  if (size > 0xFFFFFFFFull) return FirmwareLoadResult::TooLarge;
  if (OtaChunkCount(static_cast<std::uint32_t>(size)) > kMaxOtaChunks) return FirmwareLoadResult::TooLarge;
  return FirmwareLoadResult::Ok;
}

FirmwareLoadResult LoadFirmwareImage(const std::filesystem::path& path, std::vector<std::uint8_t>& image) {
  namespace fs = std::filesystem;
  image.clear();
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) return FirmwareLoadResult::CannotOpen;
  if (fs::is_directory(status)) return FirmwareLoadResult::IsDirectory;
  // Only a regular file has a size to announce in the image description.
  if (!fs::is_regular_file(status)) return FirmwareLoadResult::CannotRead;

  std::ifstream file(path, std::ios::binary);
  if (!file) return FirmwareLoadResult::CannotOpen;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return FirmwareLoadResult::CannotRead;
  if (const auto check = CheckFirmwareImageSize(size); check != FirmwareLoadResult::Ok) return check;

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  // A short read would send padding as firmware: refuse it instead.
  if (static_cast<std::uintmax_t>(file.gcount()) != size) return FirmwareLoadResult::CannotRead;
  image = std::move(bytes);
  return FirmwareLoadResult::Ok;
}

namespace {

std::uint8_t RequestCode(OtaStage stage) {
  switch (stage) {
    case OtaStage::Begin: return CMD_OTA_BEGIN;
    case OtaStage::FileInfo: return CMD_OTA_FILE_INFO;
    case OtaStage::Chunk: return CMD_OTA_FILE_CHUNK;
    case OtaStage::End: return CMD_OTA_END;
    case OtaStage::Finish: return CMD_OTA_FINISH;
    case OtaStage::Idle: break;
  }
  return 0;
}

// The diagnostic line announcing a chunk; an image that fits in one chunk has
// a line of its own.
const char* ChunkLine(bool first, bool last) {
  if (first) return last ? "too small, last Ota file chunk %d\n" : "start first Ota file chunk %d\n";
  return last ? "last Ota file chunk %d\n" : "Ota file chunk %d\n";
}

}  // namespace

ProgressStep ProgressStepOf(FirmwareOutcome outcome) {
  switch (outcome) {
    case FirmwareOutcome::Done: return PROGRESS_DONE;
    case FirmwareOutcome::Refused: return PROGRESS_FAILED;
    case FirmwareOutcome::NoAnswer: return PROGRESS_NO_ANSWER;
    case FirmwareOutcome::Abandoned: break;  // never posted
  }
  return PROGRESS_NO_ANSWER;
}

std::optional<FirmwareVerdict> VerdictOfProgress(std::uint32_t wParam, std::uint32_t lParam) {
  switch (wParam) {
    case PROGRESS_DONE: return FirmwareVerdict{FirmwareOutcome::Done, 0};
    case PROGRESS_FAILED: return FirmwareVerdict{FirmwareOutcome::Refused, lParam};
    case PROGRESS_NO_ANSWER: return FirmwareVerdict{FirmwareOutcome::NoAnswer, 0};
    default: return std::nullopt;
  }
}

FirmwareTransfer::FirmwareTransfer(FrameSender& sender, const Operator& op)
    : sender_(sender), operator_(op) {}

FirmwareTransfer::~FirmwareTransfer() { Shutdown(); }

FirmwareLoadResult FirmwareTransfer::StartFirmwareDownload(const std::filesystem::path& path) {
  std::vector<std::uint8_t> image;
  const FirmwareLoadResult result = LoadFirmwareImage(path, image);
  if (result != FirmwareLoadResult::Ok) return result;
  return StartFirmwareDownload(std::move(image));
}

FirmwareLoadResult FirmwareTransfer::StartFirmwareDownload(std::vector<std::uint8_t> image) {
  if (const auto check = CheckFirmwareImageSize(image.size()); check != FirmwareLoadResult::Ok) return check;
  const std::uint16_t crc = Crc16(image.data(), image.size());

  std::unique_ptr<HighResTimer> oldWatchdog;
  Unposted none;  // an abandoned transfer posts nothing
  {
    std::lock_guard lock(mutex_);
    oldWatchdog = TakeWatchdog();
    if (Active()) Conclude(FirmwareVerdict{FirmwareOutcome::Abandoned, 0}, none);
    image_ = std::move(image);
    imageCrc_ = crc;
    imageStatus_ = 0;
    chunkIndex_ = 0;
    ending_.reset();
    verdictCaption_ = std::string(kProgressDialogCaption);
    stage_ = OtaStage::Begin;
    Send(MakeOtaBeginRequest());
  }
  return FirmwareLoadResult::Ok;  // oldWatchdog is joined here, outside the mutex
}

void FirmwareTransfer::AbandonFirmwareTransfer() {
  std::unique_ptr<HighResTimer> watchdog;
  Unposted none;
  std::lock_guard lock(mutex_);
  watchdog = TakeWatchdog();
  if (Active()) Conclude(FirmwareVerdict{FirmwareOutcome::Abandoned, 0}, none);
}  // the lock is released before the watchdog is joined (members go in reverse order)

std::optional<FirmwareVerdict> FirmwareTransfer::RedirectVerdict(std::string caption) {
  std::lock_guard lock(mutex_);
  if (!Active()) {
    // Only a posted verdict can have gone to the closing window.
    if (ending_ && ending_->outcome == FirmwareOutcome::Abandoned) return std::nullopt;
    return ending_;
  }
  verdictCaption_ = std::move(caption);
  return std::nullopt;
}

void FirmwareTransfer::SetTimeouts(FirmwareTransferTimeouts timeouts) {
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
}

void FirmwareTransfer::SetClock(std::function<Clock::time_point()> clock) {
  std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

void FirmwareTransfer::Shutdown() {
  std::unique_ptr<HighResTimer> watchdog;
  std::lock_guard lock(mutex_);
  watchdog = TakeWatchdog();
}

FirmwareTransferState FirmwareTransfer::State() const {
  std::lock_guard lock(mutex_);
  FirmwareTransferState state;
  state.stage = stage_;
  state.chunkIndex = chunkIndex_;
  state.imageSize = static_cast<std::uint32_t>(image_.size());
  state.ending = ending_;
  if (Active()) {
    state.waiting = std::chrono::duration_cast<std::chrono::milliseconds>(clock_() - sentAt_);
    state.stalled = !ImageSent() && state.waiting >= timeouts_.stall;
  }
  return state;
}

bool FirmwareTransfer::ImageSent() const {
  switch (stage_) {
    case OtaStage::Chunk: return (chunkIndex_ + 1) * std::uint64_t{OTA_CHUNK_SIZE} >= image_.size();
    case OtaStage::End:
    case OtaStage::Finish: return true;
    default: return false;
  }
}

std::unique_ptr<HighResTimer> FirmwareTransfer::TakeWatchdog() {
  if (watchdog_) watchdog_->Kill();
  return std::move(watchdog_);
}

void FirmwareTransfer::OnOtaReply(const LinkFrame& reply) {
  Unposted unposted;
  {
    std::lock_guard lock(mutex_);
    // Stop-and-wait: only the answer to the request outstanding moves the
    // exchange. A duplicated reply, a late one from an exchange before, or one
    // nothing asked for would otherwise send a request twice or end the
    // transfer with a verdict the sensor never gave.
    if (!Active() || CommandOf(reply.code) != RequestCode(stage_)) return;
    const std::uint8_t status = reply.length > 0 ? reply.payload[0] : 0;
    switch (stage_) {
      case OtaStage::Begin:
        stage_ = OtaStage::FileInfo;
        Send(MakeOtaFileInfoRequest(static_cast<std::uint32_t>(image_.size()), imageCrc_));
        break;
      case OtaStage::FileInfo:
      case OtaStage::Chunk:
        if (ImageSent()) {
          stage_ = OtaStage::End;
          Send(MakeOtaEndRequest());
        } else {
          SendNextOtaChunk(unposted);
        }
        break;
      case OtaStage::End:
        // Chunk statuses are not examined, but this one is the sensor's verdict
        // on the whole image: a refused image must not be reported as a success.
        imageStatus_ = status;
        stage_ = OtaStage::Finish;
        Send(MakeOtaFinishRequest());
        break;
      case OtaStage::Finish:
        if (imageStatus_ != 0)
          Conclude(FirmwareVerdict{FirmwareOutcome::Refused, imageStatus_}, unposted);
        else if (status != 0)
          Conclude(FirmwareVerdict{FirmwareOutcome::Refused, status}, unposted);
        else
          Conclude(FirmwareVerdict{FirmwareOutcome::Done, 0}, unposted);
        break;
      case OtaStage::Idle:
        break;
    }
  }
  ReportUnposted(unposted, true);
}

void FirmwareTransfer::CheckTimeouts() {
  Unposted unposted;
  {
    std::lock_guard lock(mutex_);
    if (!Active() || !ImageSent() || clock_() - sentAt_ < timeouts_.imageCheck) return;
    Conclude(FirmwareVerdict{FirmwareOutcome::NoAnswer, 0}, unposted);
  }
  // On the watchdog's thread: a box here could wait for a UI thread that is
  // joining this thread.
  ReportUnposted(unposted, false);
}

void FirmwareTransfer::Conclude(FirmwareVerdict verdict, Unposted& unposted) {
  image_.clear();
  image_.shrink_to_fit();
  stage_ = OtaStage::Idle;
  chunkIndex_ = 0;
  ending_ = verdict;
  if (watchdog_) watchdog_->Kill();  // not joined here: it may be this very thread
  if (verdict.outcome != FirmwareOutcome::Abandoned) Post(unposted, ProgressStepOf(verdict.outcome), verdict.status);
}

void FirmwareTransfer::Post(Unposted& unposted, std::uint32_t code, std::uint32_t value) {
  const bool toProgress = code == PROGRESS_TOTAL || code == PROGRESS_STEP;
  const std::string_view caption = toProgress ? kProgressDialogCaption : std::string_view(verdictCaption_);
  if (!operator_.poster.Post(caption, Notification{WM_FW_PROGRESS, code, value, std::nullopt}))
    unposted.codes[unposted.count++] = code;
}

void FirmwareTransfer::ReportUnposted(const Unposted& unposted, bool mayWait) {
  for (int i = 0; i < unposted.count; ++i) {
    if (mayWait) {
      operator_.ShowMessage("找不到CProgressDlg对象", "警告", MessageButtons::Ok, MessageOwner::None);
    } else {
      Diagnostic("firmware transfer: no window for progress code %d\n", static_cast<int>(unposted.codes[i]));
    }
  }
}

void FirmwareTransfer::SendNextOtaChunk(Unposted& progress) {
  // The chunk that brings the image to its end is the last one, so an image
  // whose size is a multiple of 248 ends without an empty chunk and the steps
  // match the total.
  const bool first = stage_ != OtaStage::Chunk;
  chunkIndex_ = first ? 0 : chunkIndex_ + 1;
  stage_ = OtaStage::Chunk;
  const auto size = static_cast<std::uint32_t>(image_.size());
  const std::uint32_t offset = chunkIndex_ * OTA_CHUNK_SIZE;
  const std::uint32_t count = std::min(OTA_CHUNK_SIZE, size - offset);
  const bool last = ImageSent();

  // The lines number the chunks modulo 256.
  Diagnostic(ChunkLine(first, last), static_cast<std::uint8_t>(chunkIndex_));
  if (first) Post(progress, PROGRESS_TOTAL, OtaChunkCount(size));
  Send(MakeOtaChunkRequest(offset, image_.data() + offset, count));
  Post(progress, PROGRESS_STEP, 0);
  if (last) {
    // The whole image is out; from here on each step has a patience of its
    // own, kept even when no window is left to watch it.
    const auto tick =
        std::clamp(timeouts_.imageCheck / 10, std::chrono::milliseconds(5), std::chrono::milliseconds(250));
    watchdog_ = std::make_unique<HighResTimer>(HighResTimer::Kind::Periodic, tick, [this] { CheckTimeouts(); });
  }
}

void FirmwareTransfer::Send(LinkFrame frame) {
  sentAt_ = clock_();
  sender_.SendData(frame);
}

void FirmwareTransfer::Diagnostic(const char* format, int chunk) {
  TrafficLog* log = diagnostics_.load();
  if (!log) return;
  char line[64];
  const int n = std::snprintf(line, sizeof line, format, chunk);
  if (n > 0) log->Write(std::string_view(line, std::min(static_cast<std::size_t>(n), sizeof line - 1)));
}

}  // namespace varnel
