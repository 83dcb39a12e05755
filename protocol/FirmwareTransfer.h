#pragma once
// The firmware update exchange: begin (0xF0), image description (0xF1), the
// image in chunks of 248 bytes (0xF2), end of image (0xF3), finish (0xF4).
// Strictly stop-and-wait: each request goes out when the status reply to the
// previous one arrives; the status byte of those replies is not examined.
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

#include "link/DeviceLink.h"
#include "link/LinkFrame.h"
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

// A short English name for logs and test messages.
const char* FirmwareLoadResultName(FirmwareLoadResult result);

// Reads the whole file into image. On anything but Ok, image is left empty.
FirmwareLoadResult LoadFirmwareImage(const std::filesystem::path& path, std::vector<std::uint8_t>& image);
// The size and chunk-count limits alone, for an image already in memory.
FirmwareLoadResult CheckFirmwareImageSize(std::uint64_t size);
// Chunks an image of this size is sent in.
std::uint32_t OtaChunkCount(std::uint32_t size);

// A copy of the transfer record, for tests and diagnostics.
struct FirmwareTransferState {
  bool active = false;          // a download has started and has not finished or been abandoned
  bool beginAnswered = false;   // the reply to this download's begin request has come
  std::uint32_t imageSize = 0;
  std::uint32_t remaining = 0;  // image bytes not yet sent in a chunk
  std::uint32_t offset = 0;     // image offset of the next chunk
  std::uint8_t phase = 0;       // 0 no chunk sent yet, 1 chunks under way
  bool lastChunkSent = false;
  std::uint8_t chunkCounter = 0;  // numbers the diagnostic lines; wraps at 256
  std::uint32_t otaStep = 0x70;   // CMD_OTA_BEGIN..CMD_OTA_FINISH
  std::uint8_t endStatus = 0;     // the sensor's verdict on the whole image, from its end-of-image reply
};

// Threads: StartFirmwareDownload and AbandonFirmwareTransfer run on the UI
// thread, OnOtaReply on the reader thread. The record is guarded by one mutex.
// Frames are sent while it is held, so that once Abandon returns no frame of
// the abandoned exchange can still leave; the lock order is this mutex, then
// the link's send locks, and the link never calls back into the transfer while
// it holds them. Progress notifications are posted after the mutex is released:
// a post that finds no progress window shows a message box and waits for the UI
// thread, which may itself be waiting for this mutex in Abandon.
class FirmwareTransfer {
 public:
  FirmwareTransfer(FrameSender& sender, NotificationPoster& poster);

  // Loads the image and, only when it is acceptable, sends CMD_OTA_BEGIN.
  // A refused image leaves the record as it was and sends nothing.
  FirmwareLoadResult StartFirmwareDownload(const std::filesystem::path& path);
  // The same with an image already in memory (benchmarks, tests).
  FirmwareLoadResult StartFirmwareDownload(std::vector<std::uint8_t> image);

  // A status reply 0xF0..0xF4. Ignored while no download is active.
  void OnOtaReply(const LinkFrame& reply);

  // Resets the record: replies that arrive later send nothing. Used when the
  // sensor stops answering in the middle of a download.
  void AbandonFirmwareTransfer();

  FirmwareTransferState State() const;

  // Where the per-chunk lines go, beside the traffic dump; none by default.
  void SetDiagnosticSink(TrafficLog* log) { diagnostics_.store(log); }

 private:
  struct ProgressPosts {
    struct Post {
      std::uint32_t code;
      std::uint32_t value;
    };
    Post posts[2];
    int count = 0;
    void Add(std::uint32_t code, std::uint32_t value) { posts[count++] = Post{code, value}; }
  };

  // These run with mutex_ held.
  void SendOtaFileInfo();
  bool SendNextOtaChunk(ProgressPosts& progress);
  void SendOtaChunk(std::uint32_t offset, std::uint32_t count);
  void Send(LinkFrame frame);
  void Diagnostic(const char* format, int chunk);
  void ResetRecord();

  FrameSender& sender_;
  NotificationPoster& poster_;
  std::atomic<TrafficLog*> diagnostics_{nullptr};  // set before a transfer, read on the reader thread

  mutable std::mutex mutex_;             // guards everything below
  std::vector<std::uint8_t> image_;
  std::uint16_t imageCrc_ = 0;
  FirmwareTransferState state_;
};

}  // namespace varnel
