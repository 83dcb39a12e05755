// termios implementation of SerialPort.
//
// The device is opened non-blocking and waited on with poll(), together with
// the read end of a self-pipe that CancelRead() writes to, so a reader never
// spins and can always be woken for an orderly stop.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/SerialPort.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

// The system's words for an open failure, with what the operator can do about it.
std::string DescribeOpenError(int err) {
  std::string text = std::strerror(err);
  switch (err) {
    case EACCES:
    case EPERM:
      text += " (no permission: is the user in the dialout group?)";
      break;
    case EBUSY:
    case EWOULDBLOCK:
      text += " (busy: another program holds the port)";
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      text += " (absent)";
      break;
    default:
      break;
  }
  return text;
}

bool BaudConstant(std::uint32_t baud, speed_t* out) {
  struct Entry {
    std::uint32_t baud;
    speed_t speed;
  };
  static constexpr Entry kTable[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
      {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
      {230400, B230400},
#ifdef B460800
      {460800, B460800},
#endif
#ifdef B921600
      {921600, B921600},
#endif
  };
  for (const Entry& e : kTable) {
    if (e.baud == baud) {
      *out = e.speed;
      return true;
    }
  }
  return false;
}

// Milliseconds left until deadline, rounded up so a wait never ends early; -1 without a deadline.
int RemainingMs(bool bounded, Clock::time_point deadline) {
  if (!bounded) return -1;
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

void SetNonBlockingCloseOnExec(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

struct SerialPort::Impl {
  int fd = -1;          // written by Open/Close, which never run while a Read or Write does
  std::string name;     // same owner as fd
  int wakeRead = -1;    // self-pipe for CancelRead; created once, never changed
  int wakeWrite = -1;
  // Self-pipe for CancelWrites: a byte in it stays until Close(), so every
  // write's wait sees it. Created once, never changed.
  int stopWritesRead = -1;
  int stopWritesWrite = -1;
  std::atomic<bool> writesCancelled{false};  // set by CancelWrites on any thread, cleared by Close
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {
  int fds[2];
  if (::pipe(fds) == 0) {
    SetNonBlockingCloseOnExec(fds[0]);
    SetNonBlockingCloseOnExec(fds[1]);
    impl_->wakeRead = fds[0];
    impl_->wakeWrite = fds[1];
  }
  if (::pipe(fds) == 0) {
    SetNonBlockingCloseOnExec(fds[0]);
    SetNonBlockingCloseOnExec(fds[1]);
    impl_->stopWritesRead = fds[0];
    impl_->stopWritesWrite = fds[1];
  }
}

SerialPort::~SerialPort() {
  Close();
  if (impl_->wakeRead >= 0) ::close(impl_->wakeRead);
  if (impl_->wakeWrite >= 0) ::close(impl_->wakeWrite);
  if (impl_->stopWritesRead >= 0) ::close(impl_->stopWritesRead);
  if (impl_->stopWritesWrite >= 0) ::close(impl_->stopWritesWrite);
}

bool SerialPort::Open(const std::string& name, std::string* reason) {
  std::string ignored;
  if (!reason) reason = &ignored;
  if (impl_->fd >= 0) {
    *reason = "this object already holds " + impl_->name;
    return false;
  }
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = DescribeOpenError(errno);
    return false;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    *reason = "not a serial device";
    return false;
  }
  // The advisory lock is what stops a second opener that has the privilege to
  // ignore TIOCEXCL (root does); TIOCEXCL stops everyone else, locking or not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    *reason = DescribeOpenError(err == EWOULDBLOCK ? EBUSY : err);
    return false;
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    *reason = DescribeOpenError(err);
    return false;
  }
  impl_->fd = fd;
  impl_->name = name;
  return true;
}

bool SerialPort::IsOpen() const { return impl_->fd >= 0; }

const std::string& SerialPort::Name() const { return impl_->name; }

bool SerialPort::Configure(std::uint32_t baud) {
  const int fd = impl_->fd;
  if (fd < 0) return false;
  speed_t speed;
  if (!BaudConstant(baud, &speed)) return false;
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  // Raw 8N1: no line editing, no translation, no software or hardware flow
  // control (the sensor uses neither), no modem lines holding the port.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  // A read answers at once with whatever is buffered; poll() does the waiting.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  ::tcsetattr(fd, TCSANOW, &tio);  // a partly applied setting still leaves a usable port

#ifdef __linux__
  // USB adapters otherwise hold a short reply back for up to 16 ms. Drivers
  // without the request (ptys among them) simply refuse it.
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
  }
#endif

  return ::tcflush(fd, TCIOFLUSH) == 0;
}

ReadResult SerialPort::Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) {
  const int fd = impl_->fd;
  if (fd < 0) return {ReadStatus::HungUp, 0};
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);

  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {impl_->wakeRead, POLLIN, 0}};
    const nfds_t count = impl_->wakeRead >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, RemainingMs(bounded, deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {ReadStatus::HungUp, 0};
    }
    if (ready == 0) return {ReadStatus::Timeout, 0};
    if (count == 2 && (fds[1].revents & POLLIN)) {
      std::uint8_t drain[64];
      while (::read(impl_->wakeRead, drain, sizeof drain) > 0) {
      }
      return {ReadStatus::Cancelled, 0};
    }
    const short events = fds[0].revents;
    if (events & POLLNVAL) return {ReadStatus::HungUp, 0};
    if (!(events & POLLIN)) {
      if (events & (POLLHUP | POLLERR)) return {ReadStatus::HungUp, 0};
      continue;
    }
    // Read even when a hang-up is flagged too: bytes that arrived before it are still delivered.
    const ssize_t got = ::read(fd, buffer, capacity);
    if (got > 0) return {ReadStatus::Data, static_cast<std::size_t>(got)};
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (bounded && Clock::now() >= deadline) return {ReadStatus::Timeout, 0};
      continue;
    }
    // Readable yet nothing to read (end of file) or a read error: the device is gone.
    return {ReadStatus::HungUp, 0};
  }
}

std::size_t SerialPort::Write(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  const int fd = impl_->fd;
  if (fd < 0) return 0;
  const bool bounded = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
  std::size_t done = 0;
  while (done < count && !impl_->writesCancelled.load()) {
    const ssize_t n = ::write(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
    // The output queue is full: wait for room, within the bound.
    const int wait = RemainingMs(bounded, deadline);
    if (wait == 0) break;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {impl_->stopWritesRead, POLLIN, 0}};
    const nfds_t watched = impl_->stopWritesRead >= 0 ? 2 : 1;
    const int ready = ::poll(fds, watched, wait);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))) break;
  }
  return done;
}

void SerialPort::CancelWrites() {
  impl_->writesCancelled.store(true);
  if (impl_->stopWritesWrite < 0) return;
  const std::uint8_t one = 1;
  // A full pipe already wakes every wait, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t n = ::write(impl_->stopWritesWrite, &one, 1);
}

void SerialPort::CancelRead() {
  if (impl_->wakeWrite < 0) return;
  const std::uint8_t one = 1;
  // A full pipe already holds a pending wake-up, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t n = ::write(impl_->wakeWrite, &one, 1);
}

void SerialPort::Close() {
  if (impl_->writesCancelled.exchange(false) && impl_->stopWritesRead >= 0) {
    std::uint8_t drain[64];
    while (::read(impl_->stopWritesRead, drain, sizeof drain) > 0) {
    }
  }
  if (impl_->fd < 0) return;
  // The exclusive flag belongs to the terminal, not to this descriptor: clear it,
  // or the device stays refused to everyone (this program too) while the other
  // end of a pty lives on.
  ::ioctl(impl_->fd, TIOCNXCL);
  ::close(impl_->fd);
  impl_->fd = -1;
  impl_->name.clear();
}

}  // namespace varnel
