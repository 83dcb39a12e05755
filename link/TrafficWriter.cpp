#include "link/TrafficWriter.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

// Writes all of it, continuing short writes; answers 0 or the errno that stopped it.
int WriteAll(int fd, const char* data, std::size_t count) {
  while (count > 0) {
#ifdef _WIN32
    const int n = ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
#else
    const ssize_t n = ::write(fd, data, count);
#endif
    if (n > 0) {
      data += n;
      count -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
#ifndef _WIN32
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Standard output inherited in non-blocking mode: wait for room here,
      // on this thread, where waiting holds nobody up.
      pollfd pfd{fd, POLLOUT, 0};
      ::poll(&pfd, 1, -1);
      continue;
    }
#endif
    return n < 0 ? errno : EIO;
  }
  return 0;
}

// Writes a, then b: in one call where the system has one, so that a killed
// program leaves no piece of the queue half written at its wrap.
int WriteBoth(int fd, const char* a, std::size_t an, const char* b, std::size_t bn) {
#ifndef _WIN32
  if (bn > 0) {
    iovec parts[2] = {{const_cast<char*>(a), an}, {const_cast<char*>(b), bn}};
    ssize_t n;
    do n = ::writev(fd, parts, 2);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
      const auto done = static_cast<std::size_t>(n);
      if (done >= an) return WriteAll(fd, b + (done - an), bn - (done - an));
      a += done;
      an -= done;
    }
  }
#endif
  const int error = WriteAll(fd, a, an);
  return error != 0 ? error : WriteAll(fd, b, bn);
}

int DuplicateDescriptor(int fd) {
#ifdef _WIN32
  return ::_dup(fd);
#else
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
#endif
}

void CloseDescriptor(int fd) {
#ifdef _WIN32
  ::_close(fd);
#else
  ::close(fd);
#endif
}

std::uint64_t LinesIn(std::string_view text) {
  const auto lines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
  return lines > 0 ? lines : 1;
}

}  // namespace

struct TrafficWriter::Shared {
  Shared(int given, std::FILE* errors, std::size_t capacity)
      : ownCopy(DuplicateDescriptor(given)), fd(ownCopy >= 0 ? ownCopy : given), errors(errors), ring(capacity) {}
  ~Shared() {
    if (ownCopy >= 0) CloseDescriptor(ownCopy);
  }

  // Copies text in behind what is queued; the caller has checked that it fits.
  void Push(std::string_view text) {
    const std::size_t tail = (head + size) % ring.size();
    const std::size_t first = std::min(text.size(), ring.size() - tail);
    std::memcpy(ring.data() + tail, text.data(), first);
    std::memcpy(ring.data(), text.data() + first, text.size() - first);
    size += text.size();
    accepted += text.size();
  }

  // Frees the first n queued bytes, once they have been written.
  void Release(std::size_t n) {
    head = (head + n) % ring.size();
    size -= n;
    done += n;
  }

  // The writer writes to a descriptor of its own, so that whoever handed one over
  // may close theirs while a write the writer gave up on is still blocked in it.
  const int ownCopy;  // -1 when the system had no descriptor to spare
  const int fd;
  std::FILE* const errors;
  std::mutex mutex;                  // guards everything below
  std::condition_variable work;      // the writing thread waits here for text or the end
  std::condition_variable progress;  // Drain and Close wait here
  std::vector<char> ring;            // the queue: size bytes from head, wrapping
  std::size_t head = 0;
  std::size_t size = 0;
  std::uint64_t accepted = 0;    // bytes ever queued
  std::uint64_t done = 0;        // bytes ever written, or given up on when the trace ended
  std::uint64_t dropped = 0;     // lines dropped since construction
  std::uint64_t unreported = 0;  // dropped lines the trace has not been told about yet
  bool waiting = false;          // the writing thread waits for work
  bool closing = false;          // Close() asked the writing thread to end
  bool ended = false;            // nothing more is written
  bool finished = false;         // the writing thread has returned
};

TrafficWriter::TrafficWriter(int fd, std::FILE* errors, std::size_t capacity)
    : shared_(std::make_shared<Shared>(fd, errors, std::max<std::size_t>(capacity, 4096))) {
  thread_ = std::thread([shared = shared_] { Run(shared); });
}

TrafficWriter::~TrafficWriter() { Close(kCloseBound); }

void TrafficWriter::Write(std::string_view text) {
  Shared& s = *shared_;
  bool wake = false;
  {
    std::lock_guard lock(s.mutex);
    if (s.ended || s.closing || text.empty()) return;
    char notice[96];
    std::size_t noticeLength = 0;
    if (s.unreported > 0) {
      const int n = std::snprintf(notice, sizeof notice, "[Lost ] %llu lines (the trace was not being read)\r\n",
                                  static_cast<unsigned long long>(s.unreported));
      noticeLength = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (noticeLength + text.size() > s.ring.size() - s.size) {
      const std::uint64_t lines = LinesIn(text);
      s.dropped += lines;
      s.unreported += lines;
      return;
    }
    if (noticeLength > 0) {
      s.Push(std::string_view(notice, noticeLength));
      s.unreported = 0;
    }
    s.Push(text);
    // One wake-up per wait: the pieces that follow before the thread runs ride along.
    wake = std::exchange(s.waiting, false);
  }
  if (wake) s.work.notify_one();
}

bool TrafficWriter::Drain(std::chrono::milliseconds bound) {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  const std::uint64_t target = s.accepted;
  return s.progress.wait_for(lock, bound, [&] { return s.done >= target; });
}

void TrafficWriter::Close(std::chrono::milliseconds bound) {
  if (!thread_.joinable()) return;
  const auto deadline = Clock::now() + bound;
  Drain(bound);
  Shared& s = *shared_;
  bool finished;
  {
    std::unique_lock lock(s.mutex);
    s.closing = true;
    s.work.notify_one();
    finished = s.progress.wait_until(lock, deadline, [&] { return s.finished; });
  }
  if (finished) {
    thread_.join();
  } else {
    // Stuck in a write to a reader that takes nothing: the thread keeps its own
    // share of the state and ends with the process.
    thread_.detach();
  }
}

std::uint64_t TrafficWriter::DroppedLines() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->dropped;
}

bool TrafficWriter::Ended() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->ended;
}

void TrafficWriter::Run(const std::shared_ptr<Shared>& shared) {
#ifndef _WIN32
  // A reader that goes away must end the trace, not the process, in whatever
  // program this runs: the write answers EPIPE, and the signal raised for this
  // thread stays blocked here.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
#endif
  Shared& s = *shared;
  std::unique_lock lock(s.mutex);
  for (;;) {
    while (s.size == 0 && !s.closing) {
      s.waiting = true;
      s.work.wait(lock);
      s.waiting = false;
    }
    if (s.size == 0) break;  // closing, and everything is out
    // Everything queued goes out at once, straight from the queue: producers
    // only ever fill the free part, so the queued part can be written without
    // the lock and is freed afterwards.
    const std::size_t n = s.size;
    const std::size_t first = std::min(n, s.ring.size() - s.head);
    const char* from = s.ring.data() + s.head;
    lock.unlock();
    const int error = WriteBoth(s.fd, from, first, s.ring.data(), n - first);
    if (error != 0) {
      if (error == EPIPE) {
        std::fprintf(s.errors, "varnel: standard output was closed by its reader; the traffic trace stops here\n");
      } else {
        std::fprintf(s.errors, "varnel: cannot write the traffic trace (%s); it stops here\n", std::strerror(error));
      }
      std::fflush(s.errors);
    }
    lock.lock();
    s.Release(n);
    if (error != 0) {
      s.Release(s.size);  // given up on
      s.ended = true;
    }
    s.progress.notify_all();
    if (s.ended) break;
  }
  s.ended = true;
  s.finished = true;
  s.progress.notify_all();
}

}  // namespace varnel
