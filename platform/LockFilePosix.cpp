// flock on a file beside what it guards. The holder removes the file when it lets go,
// so nothing is left in the operator's folder; a process that opened the file before
// that removal and then gets the lock sees that the name now leads elsewhere and tries
// again, so two processes never both believe they hold it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/LockFile.h"

namespace varnel {
namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(20);

bool SameFile(int fd, const std::filesystem::path& path) {
  struct stat mine {}, there {};
  return ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

std::string ReadHolder(int fd) {
  char text[256];
  const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  std::string holder(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
  return holder;
}

}  // namespace

struct LockFile::Handle {
  int fd = -1;
  std::filesystem::path path;
  ~Handle() {
    // Removed while still locked: a waiter that gets the lock afterwards finds the name gone.
    if (SameFile(fd, path)) ::unlink(path.c_str());
    ::close(fd);
  }
};

LockFile::LockFile(State state, std::unique_ptr<Handle> handle) : state_(state), handle_(std::move(handle)) {}
LockFile::LockFile(LockFile&& other) noexcept = default;
LockFile& LockFile::operator=(LockFile&& other) noexcept = default;
LockFile::~LockFile() = default;

std::string LockHolderText() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "?");
  return std::string(host) + " " + std::to_string(::getpid());
}

LockFile LockFile::Acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    // Someone else's lock file may be read-only to us; flock needs no write access.
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      LockFile failed(State::Unavailable, nullptr);
      failed.reason_ = std::strerror(errno);
      return failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (!SameFile(fd, path)) {  // the previous holder removed it meanwhile
        ::close(fd);
        continue;
      }
      const std::string holder = LockHolderText() + "\n";
      if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, holder.data(), holder.size(), 0);
      }
      auto handle = std::make_unique<Handle>();
      handle->fd = fd;
      handle->path = path;
      return LockFile(State::Held, std::move(handle));
    }
    const int err = errno;
    if (err != EWOULDBLOCK && err != EINTR) {
      ::close(fd);
      LockFile failed(State::Unavailable, nullptr);
      failed.reason_ = std::strerror(err);
      return failed;
    }
    std::string holder = ReadHolder(fd);
    ::close(fd);
    if (std::chrono::steady_clock::now() >= deadline) {
      LockFile busy(State::Busy, nullptr);
      busy.holder_ = std::move(holder);
      return busy;
    }
    std::this_thread::sleep_for(kRetryInterval);  // the holder gives no signal when it lets go
  }
}

}  // namespace varnel
