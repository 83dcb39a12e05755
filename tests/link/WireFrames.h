#pragma once
// Builds wire frames for tests on their own (bitwise CRC-16/MODBUS), so the
// receiver is checked against bytes it did not produce itself.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/LinkFrame.h"

namespace varnel::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t ReferenceCrc(const Bytes& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

inline Bytes WireFrame(std::uint8_t code, const Bytes& payload, std::uint8_t preambleByte = 0xBB,
                       std::uint8_t aux = 0x01) {
  Bytes out(4, preambleByte);
  out.push_back(aux);
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(payload.size()));
  out.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
  out.insert(out.end(), payload.begin(), payload.end());
  const std::uint16_t crc = ReferenceCrc(out);
  out.push_back(static_cast<std::uint8_t>(crc));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// What a handler saw, copied out of the receiver's reused record.
struct SeenFrame {
  std::uint32_t preamble;
  std::uint8_t aux;
  std::uint8_t code;
  Bytes payload;
  std::uint16_t crc;

  static SeenFrame From(const LinkFrame& f) {
    return {f.preamble, f.aux, f.code, Bytes(f.payload, f.payload + f.length), f.crc};
  }
  bool operator==(const SeenFrame&) const = default;
};

// Frames handed over on the reader thread, waited for on the test thread.
class FrameLog {
 public:
  void Add(const LinkFrame& f) {
    {
      std::lock_guard lock(mutex_);
      frames_.push_back(SeenFrame::From(f));
    }
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds within = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, within, [&] { return frames_.size() >= count; });
  }
  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }
  std::vector<SeenFrame> Frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<SeenFrame> frames_;  // guarded by mutex_
};

}  // namespace varnel::test
