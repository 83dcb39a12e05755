#pragma once
// The simulated sensor served on a pseudo-terminal inside the test process
// (POSIX): the tool under test opens PortPath() as its serial port. Replies
// leave at the instants the sensor's wire shaper gives them, so wire pacing
// works as in the stand-alone simulator. Both directions are decoded into a
// log of (direction, command byte) events.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/FrameReceiver.h"
#include "sim/SimSensor.h"

namespace varnel::test {

class SimPtyHarness {
 public:
  struct Event {
    bool fromHost;  // a request (true) or a reply (false)
    std::uint8_t code;
    std::chrono::steady_clock::time_point at;
  };

  SimPtyHarness() {
    hostFrames_.SetDumpEnabled(false);
    sensorFrames_.SetDumpEnabled(false);
    hostFrames_.SetFrameHandler([this](const LinkFrame& f) { Log(true, f.code); });
    sensorFrames_.SetFrameHandler([this](const LinkFrame& f) { Log(false, f.code); });
  }
  ~SimPtyHarness() {
    Stop();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    if (wake_[0] >= 0) ::close(wake_[0]);
    if (wake_[1] >= 0) ::close(wake_[1]);
  }
  SimPtyHarness(const SimPtyHarness&) = delete;
  SimPtyHarness& operator=(const SimPtyHarness&) = delete;

  // Opens the pseudo-terminal and starts serving it.
  bool Start(std::string* problem) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
      *problem = std::string("openpty: ") + std::strerror(errno);
      return false;
    }
    // Our own slave descriptor stays open, so the master never sees a hang-up.
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (::pipe(wake_) != 0) {
      *problem = std::string("pipe: ") + std::strerror(errno);
      return false;
    }
    path_ = name;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  const std::string& PortPath() const { return path_; }

  void Stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }

  // Runs f with the sensor while the serving thread keeps its hands off it.
  template <class F>
  auto WithSensor(F&& f) {
    std::lock_guard lock(sensorMutex_);
    return f(sim_);
  }

  std::vector<Event> Events() const {
    std::lock_guard lock(logMutex_);
    return events_;
  }
  // Waits until at least count events are logged; false at the deadline.
  bool WaitForEvents(std::size_t count, std::chrono::milliseconds within) const {
    std::unique_lock lock(logMutex_);
    return logged_.wait_for(lock, within, [&] { return events_.size() >= count; });
  }

 private:
  void Log(bool fromHost, std::uint8_t code) {
    {
      std::lock_guard lock(logMutex_);
      events_.push_back(Event{fromHost, code, std::chrono::steady_clock::now()});
    }
    logged_.notify_all();
  }

  void Run() {
    std::uint8_t buffer[4096];
    for (;;) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      const auto arrived = std::chrono::steady_clock::now();
      hostFrames_.Feed(buffer, static_cast<std::size_t>(n));
      std::vector<sim::WireWrite> writes;
      {
        std::lock_guard lock(sensorMutex_);
        writes = sim_.Feed(buffer, static_cast<std::size_t>(n), arrived);
      }
      Transmit(writes);
    }
  }

  // Each write waits for its own absolute instant, so lateness never adds up.
  void Transmit(std::vector<sim::WireWrite>& writes) {
    for (std::size_t i = 0; i < writes.size();) {
      std::this_thread::sleep_until(writes[i].at);
      std::vector<std::uint8_t> bytes = std::move(writes[i].bytes);
      const bool alone = writes[i].alone;
      ++i;
      // Bytes already due go out together, as a driver would take them.
      const auto now = std::chrono::steady_clock::now();
      while (!alone && i < writes.size() && !writes[i].alone && writes[i].at <= now) {
        bytes.insert(bytes.end(), writes[i].bytes.begin(), writes[i].bytes.end());
        ++i;
      }
      WriteAll(bytes);
    }
  }

  void WriteAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        sensorFrames_.Feed(bytes.data() + done, static_cast<std::size_t>(n));
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return;
      pollfd out{master_, POLLOUT, 0};
      if (::poll(&out, 1, 1000) == 0) return;  // nobody reads: the rest is lost, as on a line
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::string path_;
  std::mutex sensorMutex_;
  sim::SimSensor sim_;                 // guarded by sensorMutex_
  FrameReceiver hostFrames_;           // serving thread only
  FrameReceiver sensorFrames_;         // serving thread only
  mutable std::mutex logMutex_;
  mutable std::condition_variable logged_;
  std::vector<Event> events_;          // guarded by logMutex_
  std::thread thread_;                 // started by Start, joined by Stop
};

}  // namespace varnel::test
