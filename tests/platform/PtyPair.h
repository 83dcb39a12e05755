#pragma once
// A pseudo-terminal for serial tests: the tool opens the slave by its path,
// the test plays the device on the master.
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel::test {

// Why a test that needs a pseudo-terminal skips itself where there is none.
inline constexpr char kNoPtyReason[] = "needs a pseudo-terminal, which Windows does not have";

#ifdef _WIN32
// Windows has no pseudo-terminals. This stand-in lets the tests that need one build
// there; their fixtures skip them (PtyPair::kAvailable) before any of it is used.
class PtyPair {
 public:
  static constexpr bool kAvailable = false;
  bool ok() const { return false; }
  const std::string& path() const { return path_; }
  int master() const { return -1; }
  void CloseMaster() {}
  bool WriteAll(const std::vector<std::uint8_t>&, std::chrono::milliseconds = std::chrono::seconds(10)) {
    return false;
  }
  std::vector<std::uint8_t> ReadExactly(std::size_t, std::chrono::milliseconds = std::chrono::seconds(10)) {
    return {};
  }

 private:
  std::string path_;
};
#else
class PtyPair {
 public:
  static constexpr bool kAvailable = true;
  PtyPair() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (const char* name = ::ttyname(slave_)) path_ = name;
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Writes everything to the master, waiting for room; false if the deadline passes first.
  bool WriteAll(const std::vector<std::uint8_t>& bytes,
                std::chrono::milliseconds within = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 20);
    }
    return true;
  }

  // Reads from the master until count bytes are held or the deadline passes.
  std::vector<std::uint8_t> ReadExactly(std::size_t count,
                                        std::chrono::milliseconds within = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[4096];
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - out.size()));
      if (n > 0) out.insert(out.end(), chunk, chunk + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees the slave side vanish between opens
  std::string path_;
};
#endif

}  // namespace varnel::test
