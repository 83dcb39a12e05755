#pragma once
// The sensor's side of the firmware exchange: begin (0xF0), image description
// (0xF1: constant, size, CRC-16), chunks (0xF2: offset, n, n bytes), end of
// image (0xF3: the image is checked against the description) and finish (0xF4).
// Each step answers a status byte: 0 accepted, 1 refused (out of order or
// inconsistent), 3 the image failed its check. A refused step changes nothing,
// so the host may send it again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel::sim {

constexpr std::uint8_t kStatusOk = 0;
constexpr std::uint8_t kStatusInvalid = 1;
constexpr std::uint8_t kStatusInternal = 2;
constexpr std::uint8_t kStatusChecksum = 3;

class FirmwareSink {
 public:
  static constexpr std::size_t kMaxChunk = 248;
  // Larger announced images are refused rather than reserved for.
  static constexpr std::uint32_t kMaxImageSize = 16u * 1024u * 1024u;

  enum class Phase {
    Idle,       // no transfer, or the last one finished
    Begun,      // 0xF0 accepted, waiting for the description
    Receiving,  // description accepted, chunks arriving
    Verified,   // 0xF3 found the image complete and its CRC right
  };

  // Handles the payload of one request 0xF0..0xF4 (given as the command
  // byte with or without bit 7) and answers its status byte.
  std::uint8_t Handle(std::uint8_t command, const std::uint8_t* payload, std::size_t length);

  // Drops a transfer under way (the sensor restarted); the last verified image stays.
  void Abort();

  Phase phase() const { return phase_; }
  std::uint32_t announcedSize() const { return size_; }
  std::uint32_t announcedCrc() const { return crc_; }
  // The bytes of the transfer under way (or of the last one).
  const std::vector<std::uint8_t>& received() const { return received_; }
  // The last image that passed its check at 0xF3.
  const std::vector<std::uint8_t>& verifiedImage() const { return verified_; }
  // Counts images that passed their check; changes when a new one arrives.
  std::uint64_t verifiedCount() const { return verifiedCount_; }
  std::uint64_t finishedCount() const { return finishedCount_; }
  // Why the last step was not answered with 0 (empty after a good step).
  const std::string& lastProblem() const { return problem_; }

  static const char* PhaseName(Phase phase);

 private:
  std::uint8_t Begin(const std::uint8_t* payload, std::size_t length);
  std::uint8_t FileInfo(const std::uint8_t* payload, std::size_t length);
  std::uint8_t Chunk(const std::uint8_t* payload, std::size_t length);
  std::uint8_t End(std::size_t length);
  std::uint8_t Finish(std::size_t length);
  std::uint8_t Refuse(std::uint8_t status, std::string why);

  Phase phase_ = Phase::Idle;
  std::uint32_t size_ = 0;
  std::uint32_t crc_ = 0;
  std::vector<std::uint8_t> received_;
  std::vector<std::uint8_t> verified_;
  std::uint64_t verifiedCount_ = 0;
  std::uint64_t finishedCount_ = 0;
  std::string problem_;
};

}  // namespace varnel::sim
