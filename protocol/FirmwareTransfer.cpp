#include "protocol/FirmwareTransfer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>

#include "protocol/CommandSet.h"

namespace varnel {

const char* FirmwareLoadResultName(FirmwareLoadResult result) {
  switch (result) {
    case FirmwareLoadResult::Ok: return "ok";
    case FirmwareLoadResult::CannotOpen: return "cannot open";
    case FirmwareLoadResult::CannotRead: return "cannot read";
    case FirmwareLoadResult::Empty: return "empty";
    case FirmwareLoadResult::TooLarge: return "too large";
    case FirmwareLoadResult::IsDirectory: return "is a directory";
  }
  return "?";
}

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

}  // namespace

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
  {
    std::lock_guard lock(mutex_);
    oldWatchdog = TakeWatchdog();
    ResetRecord();
    image_ = std::move(image);
    imageCrc_ = crc;
    state_.imageSize = static_cast<std::uint32_t>(image_.size());
    state_.remaining = state_.imageSize;
    state_.active = true;
    verdictCaption_ = std::string(kProgressDialogCaption);
    Send(MakeOtaBeginRequest());
    state_.stage = OtaStage::Begin;
  }
  return FirmwareLoadResult::Ok;  // oldWatchdog is joined here, outside the mutex
}

void FirmwareTransfer::AbandonFirmwareTransfer() {
  std::unique_ptr<HighResTimer> watchdog;
  std::lock_guard lock(mutex_);
  watchdog = TakeWatchdog();
  ResetRecord();
}  // the lock is released before the watchdog is joined (members go in reverse order)

std::optional<FirmwareVerdict> FirmwareTransfer::RedirectVerdict(std::string caption) {
  std::lock_guard lock(mutex_);
  if (!state_.active) return verdict_;
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
  FirmwareTransferState state = state_;
  if (state.active) {
    state.waiting = std::chrono::duration_cast<std::chrono::milliseconds>(clock_() - sentAt_);
    state.stalled = !(state.lastChunkSent || state.stage == OtaStage::End || state.stage == OtaStage::Finish) &&
                    state.waiting >= timeouts_.stall;
  }
  return state;
}

std::unique_ptr<HighResTimer> FirmwareTransfer::TakeWatchdog() {
  if (watchdog_) watchdog_->Kill();
  return std::move(watchdog_);
}

void FirmwareTransfer::ResetRecord() {
  image_.clear();
  image_.shrink_to_fit();
  imageCrc_ = 0;
  state_ = FirmwareTransferState{};
  verdict_.reset();
}

void FirmwareTransfer::OnOtaReply(const LinkFrame& reply) {
  Unposted unposted;
  {
    std::lock_guard lock(mutex_);
    // Stop-and-wait: only the answer to the request outstanding moves the
    // exchange. A duplicated reply, a late one from an exchange before, or one
    // nothing asked for would otherwise send a request twice or end the
    // transfer with a verdict the sensor never gave.
    if (!state_.active || CommandOf(reply.code) != RequestCode(state_.stage)) return;
    const std::uint8_t status = reply.length > 0 ? reply.payload[0] : 0;
    switch (state_.stage) {
      case OtaStage::Begin:
        SendOtaFileInfo();
        state_.stage = OtaStage::FileInfo;
        break;
      case OtaStage::FileInfo:
      case OtaStage::Chunk:
        if (state_.lastChunkSent) {
          Send(MakeOtaEndRequest());
          state_.stage = OtaStage::End;
          break;
        }
        if (state_.stage == OtaStage::Chunk) ++state_.chunkIndex;
        state_.stage = OtaStage::Chunk;
        if (SendNextOtaChunk(unposted)) {
          // The whole image is out; from here on each step has a patience of
          // its own, kept even when no window is left to watch it.
          const auto tick = std::clamp(timeouts_.imageCheck / 10, std::chrono::milliseconds(5),
                                       std::chrono::milliseconds(250));
          watchdog_ = std::make_unique<HighResTimer>(HighResTimer::Kind::Periodic, tick, [this] { CheckTimeouts(); });
        }
        break;
      case OtaStage::End:
        // Chunk statuses are not examined, but this one is the sensor's verdict
        // on the whole image: a refused image must not be reported as a success.
        state_.endStatus = status;
        Send(MakeOtaFinishRequest());
        state_.stage = OtaStage::Finish;
        break;
      case OtaStage::Finish:
        if (state_.endStatus != 0)
          Conclude(FirmwareVerdict{PROGRESS_FAILED, state_.endStatus}, unposted);
        else if (status != 0)
          Conclude(FirmwareVerdict{PROGRESS_FAILED, status}, unposted);
        else
          Conclude(FirmwareVerdict{PROGRESS_DONE, 0}, unposted);
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
    const bool imageOut = state_.lastChunkSent || state_.stage == OtaStage::End || state_.stage == OtaStage::Finish;
    if (!state_.active || !imageOut || clock_() - sentAt_ < timeouts_.imageCheck) return;
    Conclude(FirmwareVerdict{PROGRESS_NO_ANSWER, 0}, unposted);
  }
  // On the watchdog's thread: a box here could wait for a UI thread that is
  // joining this thread.
  ReportUnposted(unposted, false);
}

void FirmwareTransfer::Conclude(FirmwareVerdict verdict, Unposted& unposted) {
  image_.clear();
  image_.shrink_to_fit();
  state_.active = false;
  state_.stage = OtaStage::Idle;
  verdict_ = verdict;
  if (watchdog_) watchdog_->Kill();  // not joined here: it may be this very thread
  Post(unposted, verdict.code, verdict.status);
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

void FirmwareTransfer::SendOtaFileInfo() {
  Send(MakeOtaFileInfoRequest(state_.imageSize, imageCrc_));
}

bool FirmwareTransfer::SendNextOtaChunk(Unposted& progress) {
  FirmwareTransferState& s = state_;
  // The chunk that brings remaining to 0 is the last one, so an image whose size
  // is a multiple of 248 ends without an empty chunk and the steps match the total.
  if (s.phase == 0) {
    if (s.remaining <= OTA_CHUNK_SIZE) {
      Diagnostic("too small, last Ota file chunk %d\n", s.chunkCounter);
      Post(progress, PROGRESS_TOTAL, 1);
      SendOtaChunk(0, s.remaining);
      s.phase = 1;
      s.lastChunkSent = true;
      Post(progress, PROGRESS_STEP, 0);
      return true;
    }
    Diagnostic("start first Ota file chunk %d\n", s.chunkCounter);
    Post(progress, PROGRESS_TOTAL, OtaChunkCount(s.remaining));
    SendOtaChunk(0, OTA_CHUNK_SIZE);
    s.offset += OTA_CHUNK_SIZE;
    s.remaining -= OTA_CHUNK_SIZE;
    ++s.chunkCounter;
    s.phase = 1;
    Post(progress, PROGRESS_STEP, 0);
    return false;
  }
  if (s.remaining <= OTA_CHUNK_SIZE) {
    Diagnostic("last Ota file chunk %d\n", s.chunkCounter);
    SendOtaChunk(s.offset, s.remaining);
    s.lastChunkSent = true;
    Post(progress, PROGRESS_STEP, 0);
    return true;
  }
  Diagnostic("Ota file chunk %d\n", s.chunkCounter);
  SendOtaChunk(s.offset, OTA_CHUNK_SIZE);
  s.offset += OTA_CHUNK_SIZE;
  s.remaining -= OTA_CHUNK_SIZE;
  ++s.chunkCounter;
  Post(progress, PROGRESS_STEP, 0);
  return false;
}

void FirmwareTransfer::SendOtaChunk(std::uint32_t offset, std::uint32_t count) {
  Send(MakeOtaChunkRequest(offset, image_.data() + offset, count));
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
