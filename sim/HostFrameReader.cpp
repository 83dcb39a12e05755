#include "sim/HostFrameReader.h"

#include <cstring>

namespace varnel::sim {
namespace {

bool IsPreambleByte(std::uint8_t b) { return b == 0xAA || b == 0xBB; }

}  // namespace

void HostFrameReader::Feed(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    held_bytes_[held_++] = bytes[i];
    Scan();
  }
}

void HostFrameReader::Drop(std::size_t count) {
  std::memmove(held_bytes_, held_bytes_ + count, held_ - count);
  held_ -= count;
}

void HostFrameReader::Scan() {
  for (;;) {
    // The preamble: up to four equal preamble bytes at the front.
    std::size_t run = 0;
    while (run < held_ && run < 4 && IsPreambleByte(held_bytes_[run]) && held_bytes_[run] == held_bytes_[0]) ++run;
    if (run < held_ && run < 4) {
      Drop(run == 0 ? 1 : run);  // a byte that cannot continue the preamble ends it
      continue;
    }
    if (held_ < kLinkHeaderSize) return;
    const std::size_t length = held_bytes_[6] | (held_bytes_[7] << 8);
    if (length > kLinkMaxPayload) {
      ++rejected_;
      Drop(1);
      continue;
    }
    const std::size_t total = kLinkHeaderSize + length + 2;
    if (held_ < total) return;
    const std::uint16_t crc = static_cast<std::uint16_t>(held_bytes_[total - 2] | (held_bytes_[total - 1] << 8));
    if (Crc16(held_bytes_, total - 2) != crc) {
      ++rejected_;
      Drop(1);
      continue;
    }
    std::memcpy(&frame_.preamble, held_bytes_, 4);  // four equal bytes: byte order does not matter
    frame_.aux = held_bytes_[4];
    frame_.code = held_bytes_[5];
    frame_.length = static_cast<std::uint16_t>(length);
    std::memcpy(frame_.payload, held_bytes_ + kLinkHeaderSize, length);
    frame_.crc = crc;
    ++delivered_;
    Drop(total);
    if (handler_) handler_(frame_);
  }
}

}  // namespace varnel::sim
