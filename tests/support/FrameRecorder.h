#pragma once
// Test seam for the send path: keeps the wire bytes of every frame sent,
// from any thread, instead of writing them to a port.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "link/DeviceLink.h"
#include "link/LinkFrame.h"

namespace varnel::test {

using Bytes = std::vector<std::uint8_t>;

// Command byte and payload of a recorded frame.
inline std::uint8_t CodeOf(const Bytes& frame) { return frame.at(5); }
inline Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + 8, frame.end() - 2); }

// Keeps the wire bytes of every frame sent, from any thread.
class RecordingSender final : public FrameSender {
 public:
  void SendData(LinkFrame& frame) override {
    std::uint8_t wire[kLinkMaxWireFrame];
    const std::size_t n = SerialiseFrame(frame, wire);
    {
      std::lock_guard lock(mutex_);
      frames_.emplace_back(wire, wire + n);
    }
    changed_.notify_all();
  }

  std::vector<Bytes> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }
  // Command bytes (byte 5) of the frames sent, in order.
  std::vector<std::uint8_t> Codes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> codes;
    for (const Bytes& f : frames_) codes.push_back(f.at(5));
    return codes;
  }
  Bytes Last() const {
    std::lock_guard lock(mutex_);
    return frames_.empty() ? Bytes{} : frames_.back();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
  }
  // Waits until at least count frames have been sent; false at the deadline.
  bool WaitForCount(std::size_t count, std::chrono::milliseconds within) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [&] { return frames_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Bytes> frames_;  // guarded by mutex_
};

}  // namespace varnel::test
