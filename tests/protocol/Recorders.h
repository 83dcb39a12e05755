#pragma once
// Recording stand-ins for the wire, the windows and the message boxes.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "link/FrameSender.h"
#include "link/LinkFrame.h"
#include "platform/Operator.h"
#include "protocol/Notifications.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/MessageRecorder.h"

namespace varnel::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

struct Posted {
  std::string caption;
  Notification notification;
};

// Windows present by caption; records what reached them.
class RecordingPoster final : public NotificationPoster {
 public:
  RecordingPoster() : windows_{"Varnel", "固件下载进度"} {}

  bool Post(std::string_view caption, Notification notification) override {
    {
      std::lock_guard lock(mutex_);
      if (!windows_.count(std::string(caption))) return false;
      posted_.push_back(Posted{std::string(caption), std::move(notification)});
    }
    changed_.notify_all();
    return true;
  }
  bool HasWindow(std::string_view caption) override {
    std::lock_guard lock(mutex_);
    return windows_.count(std::string(caption)) != 0;
  }

  void SetWindows(std::set<std::string> windows) {
    std::lock_guard lock(mutex_);
    windows_ = std::move(windows);
  }
  std::vector<Posted> All() const {
    std::lock_guard lock(mutex_);
    return posted_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    posted_.clear();
  }
  // Waits until a notification with this message and wParam has been posted.
  bool WaitFor(std::uint32_t message, std::uint32_t wParam, std::chrono::milliseconds within) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [&] {
      for (const Posted& p : posted_)
        if (p.notification.message == message && p.notification.wParam == wParam) return true;
      return false;
    });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::set<std::string> windows_;  // guarded by mutex_
  std::vector<Posted> posted_;     // guarded by mutex_
};

using Shown = RecordedBox;

using RecordingPresenter = MessageRecorder;

// A reply frame as the receiver hands it over: the payload buffer beyond
// length is filled with stale bytes, as after an earlier, longer frame.
inline LinkFrame Reply(std::uint8_t code, std::initializer_list<std::uint8_t> payload,
                       std::uint8_t stale = 0x77) {
  LinkFrame frame;
  frame.preamble = 0xAAAAAAAAu;
  frame.aux = 0x01;
  frame.code = code;
  for (auto& b : frame.payload) b = stale;
  std::size_t i = 0;
  for (std::uint8_t b : payload) frame.payload[i++] = b;
  frame.length = static_cast<std::uint16_t>(payload.size());
  return frame;
}

// A whole host frame: header bytes 0..7 and payload, then the MODBUS CRC.
inline Bytes Framed(Bytes body) {
  const std::uint16_t crc = Crc16(body.data(), body.size());
  body.push_back(static_cast<std::uint8_t>(crc));
  body.push_back(static_cast<std::uint8_t>(crc >> 8));
  return body;
}

inline Bytes Str(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace varnel::test
