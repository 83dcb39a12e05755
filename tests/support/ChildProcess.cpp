#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/Wait.h"

extern char** environ;

namespace varnel::test {

ChildProcess::ChildProcess(ChildOptions options) {
  int err[2] = {-1, -1};
  if (options.collectErrors && ::pipe2(err, O_CLOEXEC) != 0) return;
  std::vector<char*> argv;
  for (auto& a : options.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : options.env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const auto& [ours, theirs] : options.descriptors) posix_spawn_file_actions_adddup2(&actions, ours, theirs);
  for (const auto& [theirs, path] : options.files)
    posix_spawn_file_actions_addopen(&actions, theirs, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (options.collectErrors) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(),
                             options.env.empty() ? environ : envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (options.collectErrors) {
    ::close(err[1]);
    errorsFd_ = err[0];
  }
  if (rc != 0) {
    pid_ = -1;
    return;
  }
  if (errorsFd_ >= 0) {
    reader_ = std::thread([this] {
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(errorsFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        errors_.append(buffer, static_cast<std::size_t>(n));
      }
    });
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (reader_.joinable()) reader_.join();  // its end closed when it exited
  if (errorsFd_ >= 0) ::close(errorsFd_);
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || exited_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  exited_ = true;
  signalled_ = WIFSIGNALED(status);
  code_ = signalled_ ? WTERMSIG(status) : WEXITSTATUS(status);
  // Its end of the pipe closed as it ended: once the reader has seen that,
  // Errors() holds everything it wrote.
  if (reader_.joinable()) reader_.join();
  return false;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  return WaitUntil([this] { return !Running(); }, timeout, std::chrono::milliseconds(20)) && pid_ > 0;
}

bool ChildProcess::Terminate(std::chrono::milliseconds timeout) {
  if (Running()) ::kill(pid_, SIGTERM);
  return WaitForExit(timeout);
}

std::string ChildProcess::Errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

std::vector<std::string> EnvironmentWith(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : changes) replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

}  // namespace varnel::test
