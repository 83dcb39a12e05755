#pragma once
// Writes the sensor's replies to the port at the instants the wire shaper gave
// them, on a thread of its own, so paced replies keep time while requests are
// read. Each write waits for an absolute instant on the steady clock, so
// lateness never adds up from one byte to the next.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/WireShaper.h"

namespace varnel::sim {

class Transmitter {
 public:
  // A write that cannot make progress for this long (nobody reads the port)
  // is dropped, as bytes sent to an unplugged line are.
  static constexpr int kStallLimitMs = 1000;

  Transmitter();
  ~Transmitter();  // stops and joins the thread
  Transmitter(const Transmitter&) = delete;
  Transmitter& operator=(const Transmitter&) = delete;

  // Writes go to fd (non-blocking) from now on.
  void Attach(int fd);
  // Drops every queued write and returns once no write to the old descriptor is
  // under way, so the caller may close it.
  void Detach();
  void Enqueue(std::vector<WireWrite> writes);

  std::uint64_t bytesWritten() const { return bytesWritten_.load(); }
  std::uint64_t bytesDiscarded() const { return bytesDiscarded_.load(); }

 private:
  void Run();
  // Writes all bytes to fd, waiting for room; answers false if it stalled.
  bool WriteAll(int fd, const std::uint8_t* data, std::size_t count);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<WireWrite> queue_;  // guarded by mutex_
  int fd_ = -1;                  // guarded by mutex_
  bool writing_ = false;         // guarded by mutex_: a write to fd_ is under way outside the lock
  bool stop_ = false;            // guarded by mutex_
  std::atomic<std::uint64_t> bytesWritten_{0};
  std::atomic<std::uint64_t> bytesDiscarded_{0};
  std::thread thread_;           // started last, joined by the destructor
};

}  // namespace varnel::sim
