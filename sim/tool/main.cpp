// varnel-sensor-sim: the simulated sensor served on a pseudo-terminal.
//
// One thread reads the port, standard input and the signal pipe with poll(),
// feeds the sensor and runs control commands; the transmitter thread writes the
// replies at their instants. Signals only write a byte to a pipe, so all
// clean-up (removing the link) happens on the main thread.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/ControlCommands.h"
#include "sim/SimSensor.h"
#include "sim/tool/Options.h"
#include "sim/tool/PseudoTerminal.h"
#include "sim/tool/RuntimeDir.h"
#include "sim/tool/Transmitter.h"

namespace varnel::sim {
namespace {

int g_signalPipe[2] = {-1, -1};  // written by the signal handler, read by the main loop

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignals(std::string* problem) {
  if (::pipe(g_signalPipe) != 0) {
    *problem = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  for (int fd : g_signalPipe) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

void Say(const std::string& line) {
  if (line.empty()) return;
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Complain(const std::string& line) {
  std::fprintf(stderr, "varnel-sensor-sim: %s\n", line.c_str());
  std::fflush(stderr);
}

class Server {
 public:
  Server(const ToolOptions& options, std::string portDir)
      : options_(options), linkPath_(portDir + "/" + options.name) {}

  int Run();

 private:
  bool Plug();
  void Unplug();
  void ReadPort();
  bool ReadCommands();  // answers false when the server should quit
  bool RunLine(const std::string& line);

  const ToolOptions& options_;
  const std::string linkPath_;
  SimSensor sensor_;        // main thread only
  PseudoTerminal pty_;      // main thread only
  Transmitter transmitter_; // its queue is locked inside
  std::string published_;   // the pty our link points at; empty when unplugged
  std::string pendingInput_;
  bool stdinOpen_ = true;
  int exitCode_ = 0;
  std::chrono::steady_clock::time_point portQuietUntil_{};  // after a read error
};

bool Server::Plug() {
  std::string problem;
  if (!pty_.Open(&problem)) {
    Complain(problem);
    return false;
  }
  if (!PublishLink(linkPath_, pty_.slavePath(), &problem)) {
    Complain(problem);
    pty_.Close();
    return false;
  }
  published_ = pty_.slavePath();
  sensor_.ResetLink();
  transmitter_.Attach(pty_.master());
  Say("pty " + pty_.slavePath());
  Say("link " + linkPath_);
  return true;
}

void Server::Unplug() {
  transmitter_.Detach();
  if (!published_.empty()) RemoveLinkIfOurs(linkPath_, published_);
  published_.clear();
  pty_.CloseMaster();  // the tool's descriptor hangs up now
}

void Server::ReadPort() {
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
    if (n > 0) {
      const auto arrived = std::chrono::steady_clock::now();
      transmitter_.Enqueue(sensor_.Feed(buffer, static_cast<std::size_t>(n), arrived));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // EIO or end of file: nobody on the other side; look again shortly instead of spinning.
    portQuietUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    return;
  }
}

bool Server::RunLine(const std::string& line) {
  const CommandResult result = RunCommand(sensor_, line);
  if (!result.ok) {
    Complain(result.error);
    return true;
  }
  switch (result.action) {
    case ToolAction::None:
      break;
    case ToolAction::Quit:
      Say(result.output);
      return false;
    case ToolAction::Unplug:
      if (!pty_.IsOpen()) {
        Complain("error: unplug: already unplugged");
        return true;
      }
      Unplug();
      break;
    case ToolAction::Replug:
      if (pty_.IsOpen()) Unplug();
      if (!Plug()) {
        Complain("error: replug: no new pseudo-terminal; still unplugged");
        return true;
      }
      break;
  }
  Say(result.output);
  return true;
}

bool Server::ReadCommands() {
  char buffer[4096];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) {
    stdinOpen_ = false;
    if (!pendingInput_.empty()) {
      const std::string last = pendingInput_;
      pendingInput_.clear();
      if (!RunLine(last)) return false;
    }
    return !options_.quitOnEof;
  }
  pendingInput_.append(buffer, static_cast<std::size_t>(n));
  std::size_t newline;
  while ((newline = pendingInput_.find('\n')) != std::string::npos) {
    const std::string line = pendingInput_.substr(0, newline);
    pendingInput_.erase(0, newline + 1);
    if (!RunLine(line)) return false;
  }
  if (pendingInput_.size() > 4096) {
    Complain("error: a command line longer than 4096 bytes was dropped");
    pendingInput_.clear();
  }
  return true;
}

int Server::Run() {
  sensor_.SetMessageSink([](const std::string& text) { Complain(text); });
  if (options_.verbose) {
    sensor_.SetTraceSink([](const std::string& text) {
      std::fputs(text.c_str(), stderr);
      std::fflush(stderr);
    });
  }
  // Start commands answer nothing on standard output: the first lines there are the port's.
  for (const std::string& command : options_.startCommands) {
    const CommandResult result = RunCommand(sensor_, command);
    if (!result.ok) {
      Complain(result.error + " (from the command line)");
      return 2;
    }
    if (result.action == ToolAction::Quit) return 0;
    if (result.action != ToolAction::None) {
      Complain("error: '" + command + "' is a command for a running simulator (from the command line)");
      return 2;
    }
  }
  if (!Plug()) return 1;

  stdinOpen_ = options_.stdinCommands;
  const pid_t parent = ::getppid();
  for (;;) {
    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = pollfd{g_signalPipe[0], POLLIN, 0};
    int portIndex = -1, stdinIndex = -1;
    int timeout = options_.exitWithParent ? 500 : -1;
    const auto now = std::chrono::steady_clock::now();
    if (pty_.IsOpen()) {
      if (now >= portQuietUntil_) {
        portIndex = static_cast<int>(count);
        fds[count++] = pollfd{pty_.master(), POLLIN, 0};
      } else {
        timeout = 100;
      }
    }
    if (stdinOpen_) {
      stdinIndex = static_cast<int>(count);
      fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
    }
    const int ready = ::poll(fds, count, timeout);
    if (ready < 0 && errno != EINTR) {
      Complain(std::string("poll failed: ") + std::strerror(errno));
      exitCode_ = 1;
      break;
    }
    if (options_.exitWithParent && ::getppid() != parent) break;
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) break;  // a signal: leave through the clean-up below
    if (portIndex >= 0 && fds[portIndex].revents) ReadPort();
    if (stdinIndex >= 0 && fds[stdinIndex].revents) {
      if (!ReadCommands()) break;
    }
  }
  Unplug();
  pty_.Close();
  return exitCode_;
}

}  // namespace
}  // namespace varnel::sim

int main(int argc, char** argv) {
  using namespace varnel::sim;
  ToolOptions options;
  std::string problem;
  if (!ParseOptions(argc, argv, &options, &problem)) {
    Complain(problem + " (see --help)");
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
#if defined(__linux__)
  if (options.exitWithParent) ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
  if (!InstallSignals(&problem)) {
    Complain(problem);
    return 1;
  }
  std::string warning;
  const std::string runtime = varnel::UserRuntimeDirectory(&problem, &warning);
  if (!warning.empty()) Complain(warning);
  if (runtime.empty()) {
    Complain(problem);
    return 1;
  }
  const std::string portDir = PortDirectory(runtime, &problem);
  if (portDir.empty()) {
    Complain(problem);
    return 1;
  }
  Server server(options, portDir);
  return server.Run();
}
