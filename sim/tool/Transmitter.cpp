#include "sim/tool/Transmitter.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <chrono>

namespace varnel::sim {

Transmitter::Transmitter() : thread_([this] { Run(); }) {}

Transmitter::~Transmitter() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Transmitter::Attach(int fd) {
  {
    std::lock_guard lock(mutex_);
    fd_ = fd;
  }
  wake_.notify_all();
}

void Transmitter::Detach() {
  std::unique_lock lock(mutex_);
  fd_ = -1;
  queue_.clear();
  wake_.notify_all();
  wake_.wait(lock, [this] { return !writing_; });
}

void Transmitter::Enqueue(std::vector<WireWrite> writes) {
  if (writes.empty()) return;
  {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    for (WireWrite& w : writes) queue_.push_back(std::move(w));
  }
  wake_.notify_all();
}

void Transmitter::Run() {
#if defined(__linux__)
  // Paced bytes are 87 us apart at 115200 Bd; the default 50 us timer slack
  // would be over half a byte late on every wake.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
#endif
  // Stop signals belong to the main loop, which cleans up; delivered here they
  // would wait for this thread's next wake-up (under ThreadSanitizer, for ever).
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::unique_lock lock(mutex_);
  std::vector<std::uint8_t> batch;
  while (!stop_) {
    if (queue_.empty() || fd_ < 0) {
      wake_.wait(lock);
      continue;
    }
    const SimTime due = queue_.front().at;
    if (std::chrono::steady_clock::now() < due) {
      // An absolute deadline on the steady clock; an earlier wake (new work,
      // detach, stop) just looks again.
      wake_.wait_until(lock, due);
      continue;
    }
    // The due write, and the due writes behind it that may share its write call.
    batch.clear();
    const bool alone = queue_.front().alone;
    batch = std::move(queue_.front().bytes);
    queue_.pop_front();
    if (!alone) {
      const SimTime now = std::chrono::steady_clock::now();
      while (!queue_.empty() && !queue_.front().alone && queue_.front().at <= now) {
        batch.insert(batch.end(), queue_.front().bytes.begin(), queue_.front().bytes.end());
        queue_.pop_front();
      }
    }
    const int fd = fd_;
    writing_ = true;
    lock.unlock();
    const bool written = WriteAll(fd, batch.data(), batch.size());
    lock.lock();
    writing_ = false;
    if (!written) {
      // Nobody is reading: what is queued behind would stall the same way.
      for (const WireWrite& w : queue_) bytesDiscarded_ += w.bytes.size();
      queue_.clear();
    }
    wake_.notify_all();
  }
}

bool Transmitter::WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallLimitMs);
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<std::size_t>(n);
      bytesWritten_ += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    struct pollfd p {fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
  bytesDiscarded_ += count;
  return count == 0;
}

}  // namespace varnel::sim
