#include "sim/FirmwareSink.h"

#include <cstdio>

#include "link/LinkFrame.h"

namespace varnel::sim {
namespace {

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

const char* FirmwareSink::PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Idle: return "idle";
    case Phase::Begun: return "begun";
    case Phase::Receiving: return "receiving";
    case Phase::Verified: return "verified";
  }
  return "idle";
}

std::uint8_t FirmwareSink::Handle(std::uint8_t command, const std::uint8_t* payload,
                                  std::size_t length) {
  problem_.clear();
  switch (command & 0x7F) {
    case 0x70: return Begin(payload, length);
    case 0x71: return FileInfo(payload, length);
    case 0x72: return Chunk(payload, length);
    case 0x73: return End(length);
    case 0x74: return Finish(length);
    default: return Refuse(kStatusInvalid, "not a firmware-transfer command");
  }
}

void FirmwareSink::Abort() {
  if (phase_ != Phase::Idle) received_.clear();
  phase_ = Phase::Idle;
  size_ = 0;
  crc_ = 0;
}

std::uint8_t FirmwareSink::Refuse(std::uint8_t status, std::string why) {
  problem_ = std::move(why);
  return status;
}

std::uint8_t FirmwareSink::Begin(const std::uint8_t*, std::size_t length) {
  if (length != 1) return Refuse(kStatusInvalid, "begin: payload of " + std::to_string(length) + " bytes, expected 1");
  phase_ = Phase::Begun;
  size_ = 0;
  crc_ = 0;
  received_.clear();
  return kStatusOk;
}

std::uint8_t FirmwareSink::FileInfo(const std::uint8_t* payload, std::size_t length) {
  if (phase_ == Phase::Idle) return Refuse(kStatusInvalid, "file info before begin");
  if (length != 12) return Refuse(kStatusInvalid, "file info: payload of " + std::to_string(length) + " bytes, expected 12");
  const std::uint32_t size = ReadU32(payload + 4);
  if (size > kMaxImageSize) return Refuse(kStatusInvalid, "file info: image of " + std::to_string(size) + " bytes is too large");
  // Bytes 0..3 carry a constant whose meaning is not ours to check.
  size_ = size;
  crc_ = ReadU32(payload + 8);
  received_.clear();
  received_.reserve(size_);
  phase_ = Phase::Receiving;
  return kStatusOk;
}

std::uint8_t FirmwareSink::Chunk(const std::uint8_t* payload, std::size_t length) {
  if (phase_ != Phase::Receiving) return Refuse(kStatusInvalid, "chunk outside a described transfer");
  if (length < 8) return Refuse(kStatusInvalid, "chunk: payload of " + std::to_string(length) + " bytes, shorter than its header");
  const std::uint32_t offset = ReadU32(payload);
  const std::uint32_t n = ReadU32(payload + 4);
  if (n != length - 8) {
    return Refuse(kStatusInvalid, "chunk: announces " + std::to_string(n) + " bytes but carries " +
                                      std::to_string(length - 8));
  }
  if (n > kMaxChunk) return Refuse(kStatusInvalid, "chunk: " + std::to_string(n) + " bytes, more than 248");
  if (offset != received_.size()) {
    return Refuse(kStatusInvalid, "chunk: offset " + std::to_string(offset) + ", expected " +
                                      std::to_string(received_.size()));
  }
  if (static_cast<std::uint64_t>(offset) + n > size_) {
    return Refuse(kStatusInvalid, "chunk: ends at " + std::to_string(std::uint64_t{offset} + n) +
                                      ", past the announced size " + std::to_string(size_));
  }
  // An empty chunk at the end of the image is harmless: some hosts send one
  // after an image whose size is a multiple of the chunk size.
  received_.insert(received_.end(), payload + 8, payload + 8 + n);
  return kStatusOk;
}

std::uint8_t FirmwareSink::End(std::size_t length) {
  if (length != 1) return Refuse(kStatusInvalid, "end: payload of " + std::to_string(length) + " bytes, expected 1");
  if (phase_ == Phase::Verified) return kStatusOk;  // asked again: the answer stands
  if (phase_ != Phase::Receiving) return Refuse(kStatusInvalid, "end outside a described transfer");
  if (received_.size() != size_) {
    return Refuse(kStatusChecksum, "end: " + std::to_string(received_.size()) + " of " +
                                       std::to_string(size_) + " bytes received");
  }
  const std::uint16_t crc = Crc16(received_.data(), received_.size());
  if (crc != crc_) {
    char text[80];
    std::snprintf(text, sizeof text, "end: image CRC 0x%04X, described as 0x%08X",
                  static_cast<unsigned>(crc), static_cast<unsigned>(crc_));
    return Refuse(kStatusChecksum, text);
  }
  phase_ = Phase::Verified;
  verified_ = received_;
  ++verifiedCount_;
  return kStatusOk;
}

std::uint8_t FirmwareSink::Finish(std::size_t length) {
  if (length != 1) return Refuse(kStatusInvalid, "finish: payload of " + std::to_string(length) + " bytes, expected 1");
  if (phase_ != Phase::Verified) return Refuse(kStatusInvalid, "finish without a checked image");
  phase_ = Phase::Idle;
  ++finishedCount_;
  return kStatusOk;
}

}  // namespace varnel::sim
