#pragma once
// A child program for end-to-end tests: started with its arguments,
// environment and descriptors, waited for with a deadline, its standard error
// collected if asked, and killed and reaped when the object goes.
#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnel::test {

struct ChildOptions {
  std::vector<std::string> args;                   // args[0] is the program's path
  std::vector<std::string> env;                    // empty: this process's environment
  std::vector<std::pair<int, int>> descriptors;    // {ours, theirs}: ours becomes the child's theirs
  std::vector<std::pair<int, std::string>> files;  // {theirs, path}: created or emptied for writing
  bool collectErrors = false;                      // standard error kept for Errors()
};

class ChildProcess {
 public:
  explicit ChildProcess(ChildOptions options);
  ~ChildProcess();  // SIGKILL if still running, then reaps it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Whether it still runs; reaps it once it has ended.
  bool Running();
  // Waits up to timeout for it to end; answers whether it did.
  bool WaitForExit(std::chrono::milliseconds timeout);
  // SIGTERM, then up to timeout for it to end; answers whether it did.
  bool Terminate(std::chrono::milliseconds timeout);
  // Once it has ended: whether by a signal, and the exit status or the signal.
  bool Signalled() const { return signalled_; }
  int ExitCode() const { return code_; }

  // Everything it wrote to standard error so far, all of it once it has ended
  // (with collectErrors).
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  bool exited_ = false;  // these three: the test's thread only
  bool signalled_ = false;
  int code_ = 0;
  int errorsFd_ = -1;
  std::thread reader_;        // collects standard error until the child closes it
  mutable std::mutex mutex_;  // guards errors_
  std::string errors_;
};

// This process's environment with some variables set to other values, or
// left out where the value is nullopt.
std::vector<std::string> EnvironmentWith(
    const std::vector<std::pair<std::string, std::optional<std::string>>>& changes);

}  // namespace varnel::test
