#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

#include "platform/StopSignals.h"

namespace varnel {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The one piece of static state: a signal handler gets no argument, so the self-pipe's
// write end must be reachable from static storage. A lock-free atomic int is safe to read
// in a handler, and -1 while no StopSignals object has the handlers.
std::atomic<int> g_stopWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  const int savedErrno = errno;
  const int fd = g_stopWriteEnd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a request, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

void SetNonBlockingCloseOnExec(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

struct StopSignals::Previous {
  struct sigaction actions[std::size(kStopSignals)];
};

StopSignals::StopSignals() : previous_(std::make_unique<Previous>()) {
  int fds[2];
  if (::pipe(fds) != 0) return;
  SetNonBlockingCloseOnExec(fds[0]);
  SetNonBlockingCloseOnExec(fds[1]);
  int none = -1;
  if (!g_stopWriteEnd.compare_exchange_strong(none, fds[1])) {  // another object has them
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  waitable_ = fds[0];
  writeEnd_ = fds[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // other threads' system calls go on undisturbed
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) ::sigaction(kStopSignals[i], &action, &previous_->actions[i]);
  installed_ = true;
}

StopSignals::~StopSignals() {
  if (!installed_) return;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) ::sigaction(kStopSignals[i], &previous_->actions[i], nullptr);
  g_stopWriteEnd.store(-1);
  ::close(static_cast<int>(writeEnd_));
  ::close(static_cast<int>(waitable_));
}

int StopSignals::Take() {
  if (!installed_) return 0;
  int last = 0;
  unsigned char bytes[64];
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(waitable_), bytes, sizeof bytes);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return last;
    last = bytes[got - 1];
  }
}

void IgnoreWriteSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace varnel
