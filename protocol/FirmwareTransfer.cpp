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

FirmwareTransfer::FirmwareTransfer(FrameSender& sender, NotificationPoster& poster)
    : sender_(sender), poster_(poster) {}

FirmwareLoadResult FirmwareTransfer::StartFirmwareDownload(const std::filesystem::path& path) {
  std::vector<std::uint8_t> image;
  const FirmwareLoadResult result = LoadFirmwareImage(path, image);
  if (result != FirmwareLoadResult::Ok) return result;
  return StartFirmwareDownload(std::move(image));
}

FirmwareLoadResult FirmwareTransfer::StartFirmwareDownload(std::vector<std::uint8_t> image) {
  if (const auto check = CheckFirmwareImageSize(image.size()); check != FirmwareLoadResult::Ok) return check;
  const std::uint16_t crc = Crc16(image.data(), image.size());

  std::lock_guard lock(mutex_);
  ResetRecord();
  image_ = std::move(image);
  imageCrc_ = crc;
  state_.imageSize = static_cast<std::uint32_t>(image_.size());
  state_.remaining = state_.imageSize;
  state_.active = true;
  // otaStep is left as it is: the reply to the begin request sets it.
  Send(MakeOtaBeginRequest());
  return FirmwareLoadResult::Ok;
}

void FirmwareTransfer::AbandonFirmwareTransfer() {
  std::lock_guard lock(mutex_);
  ResetRecord();
  state_.otaStep = CMD_OTA_BEGIN;
}

FirmwareTransferState FirmwareTransfer::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void FirmwareTransfer::ResetRecord() {
  image_.clear();
  image_.shrink_to_fit();
  imageCrc_ = 0;
  const std::uint32_t step = state_.otaStep;
  state_ = FirmwareTransferState{};
  state_.otaStep = step;
}

void FirmwareTransfer::OnOtaReply(const LinkFrame& reply) {
  ProgressPosts progress;
  {
    std::lock_guard lock(mutex_);
    if (!state_.active) return;  // nothing started, finished, or abandoned
    // Until the begin request is answered, a reply can only be a late one from
    // the exchange before (the finish reply of a download just completed): it
    // must neither move nor end this one.
    if (!state_.beginAnswered && CommandOf(reply.code) != CMD_OTA_BEGIN) return;
    state_.beginAnswered = true;
    std::uint32_t& step = state_.otaStep;
    switch (CommandOf(reply.code)) {
      case CMD_OTA_BEGIN: step = CMD_OTA_FILE_INFO; break;
      case CMD_OTA_FILE_INFO: step = CMD_OTA_FILE_CHUNK; break;
      case CMD_OTA_FILE_CHUNK: break;  // the step decides what a chunk reply leads to
      case CMD_OTA_END:
        // Chunk statuses are not examined, but this one is the sensor's verdict
        // on the whole image: a refused image must not be reported as a success.
        state_.endStatus = reply.length > 0 ? reply.payload[0] : 0;
        step = CMD_OTA_FINISH;
        break;
      case CMD_OTA_FINISH: step = CMD_OTA_BEGIN; break;
      default: return;
    }
    switch (step) {
      case CMD_OTA_FILE_INFO:
        SendOtaFileInfo();
        break;
      case CMD_OTA_FILE_CHUNK:
        if (SendNextOtaChunk(progress)) step = CMD_OTA_END;
        break;
      case CMD_OTA_END:
        Send(MakeOtaEndRequest());
        break;
      case CMD_OTA_FINISH:
        Send(MakeOtaFinishRequest());
        if (state_.endStatus == 0)
          progress.Add(PROGRESS_DONE, 0);
        else
          progress.Add(PROGRESS_FAILED, state_.endStatus);
        break;
      case CMD_OTA_BEGIN:
        // The sensor confirmed the finish: the exchange is over, later replies send nothing.
        state_.active = false;
        break;
      default:
        break;
    }
  }
  for (int i = 0; i < progress.count; ++i) {
    PostFirmwareProgress(poster_, progress.posts[i].code, progress.posts[i].value);
  }
}

void FirmwareTransfer::SendOtaFileInfo() {
  Send(MakeOtaFileInfoRequest(state_.imageSize, imageCrc_));
}

bool FirmwareTransfer::SendNextOtaChunk(ProgressPosts& progress) {
  FirmwareTransferState& s = state_;
  // The chunk that brings remaining to 0 is the last one, so an image whose size
  // is a multiple of 248 ends without an empty chunk and the steps match the total.
  if (s.phase == 0) {
    if (s.remaining <= OTA_CHUNK_SIZE) {
      Diagnostic("too small, last Ota file chunk %d\n", s.chunkCounter);
      progress.Add(PROGRESS_TOTAL, 1);
      SendOtaChunk(0, s.remaining);
      s.phase = 1;
      s.lastChunkSent = true;
      progress.Add(PROGRESS_STEP, 0);
      return true;
    }
    Diagnostic("start first Ota file chunk %d\n", s.chunkCounter);
    progress.Add(PROGRESS_TOTAL, OtaChunkCount(s.remaining));
    SendOtaChunk(0, OTA_CHUNK_SIZE);
    s.offset += OTA_CHUNK_SIZE;
    s.remaining -= OTA_CHUNK_SIZE;
    ++s.chunkCounter;
    s.phase = 1;
    progress.Add(PROGRESS_STEP, 0);
    return false;
  }
  if (s.lastChunkSent) return false;
  if (s.remaining <= OTA_CHUNK_SIZE) {
    Diagnostic("last Ota file chunk %d\n", s.chunkCounter);
    SendOtaChunk(s.offset, s.remaining);
    s.lastChunkSent = true;
    progress.Add(PROGRESS_STEP, 0);
    return true;
  }
  Diagnostic("Ota file chunk %d\n", s.chunkCounter);
  SendOtaChunk(s.offset, OTA_CHUNK_SIZE);
  s.offset += OTA_CHUNK_SIZE;
  s.remaining -= OTA_CHUNK_SIZE;
  ++s.chunkCounter;
  progress.Add(PROGRESS_STEP, 0);
  return false;
}

void FirmwareTransfer::SendOtaChunk(std::uint32_t offset, std::uint32_t count) {
  Send(MakeOtaChunkRequest(offset, image_.data() + offset, count));
}

void FirmwareTransfer::Send(LinkFrame frame) { sender_.SendData(frame); }

void FirmwareTransfer::Diagnostic(const char* format, int chunk) {
  TrafficLog* log = diagnostics_.load();
  if (!log) return;
  char line[64];
  const int n = std::snprintf(line, sizeof line, format, chunk);
  if (n > 0) log->Write(std::string_view(line, std::min(static_cast<std::size_t>(n), sizeof line - 1)));
}

}  // namespace varnel
