#include "tests/support/AppProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace varnel::test {
namespace {

using Clock = std::chrono::steady_clock;

// A TCP port nobody listens on now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

bool ReadExactly(int fd, void* out, std::size_t count) {
  auto* p = static_cast<std::uint8_t*>(out);
  while (count > 0) {
    const ssize_t n = ::read(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteExactly(int fd, const void* data, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    const ssize_t n = ::send(fd, p, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

AppProcess::AppProcess(int stdoutFd, const std::string& portsDir) {
  // Watched before the program starts, so its first look is not missed.
  inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (inotify_ >= 0 && ::inotify_add_watch(inotify_, portsDir.c_str(), IN_OPEN) < 0) {
    ::close(inotify_);
    inotify_ = -1;
  }
  const int port = FreePort();
  ChildOptions options;
  options.args = {VARNEL_APP_EXECUTABLE};
  options.env = EnvironmentWith({{"QT_QPA_PLATFORM", "vnc:size=800x600:port=" + std::to_string(port)}});
  options.descriptors = {{stdoutFd, 1}};
  options.collectErrors = true;
  child_ = std::make_unique<ChildProcess>(std::move(options));
  if (!child_->Started()) return;
  ConnectVnc(port, std::chrono::seconds(20));
}

AppProcess::~AppProcess() {
  child_.reset();  // killed and reaped before its connection goes
  if (vnc_ >= 0) ::close(vnc_);
  if (inotify_ >= 0) ::close(inotify_);
}

bool AppProcess::ConnectVnc(int port, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && Running()) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // pause between connection attempts while the program starts
      continue;
    }
    // RFB 3.3 without authentication: version, security type, shared flag, server init.
    char version[12];
    std::uint8_t security[4];
    std::uint8_t init[24];
    std::uint32_t nameLength = 0;
    bool ok = ReadExactly(fd, version, sizeof version) && WriteExactly(fd, "RFB 003.003\n", 12) &&
              ReadExactly(fd, security, sizeof security) && WriteExactly(fd, "\x01", 1) &&
              ReadExactly(fd, init, sizeof init);
    if (ok) {
      std::memcpy(&nameLength, init + 20, 4);
      std::string name(ntohl(nameLength), '\0');
      ok = ReadExactly(fd, name.data(), name.size());
    }
    if (!ok) {
      ::close(fd);
      return false;
    }
    vnc_ = fd;
    return true;
  }
  return false;
}

bool AppProcess::Press(const std::vector<unsigned>& keysyms) {
  if (vnc_ < 0) return false;
  for (const unsigned key : keysyms) {
    for (const std::uint8_t down : {1, 0}) {
      std::uint8_t event[8] = {4, down, 0, 0};
      const std::uint32_t big = htonl(key);
      std::memcpy(event + 4, &big, 4);
      if (!WriteExactly(vnc_, event, sizeof event)) return false;
    }
  }
  return true;
}

bool AppProcess::WaitForPortListing(std::chrono::milliseconds timeout) {
  if (inotify_ < 0) return false;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{inotify_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    alignas(inotify_event) char buffer[4096];
    const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace varnel::test
