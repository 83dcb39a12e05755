#pragma once
// The real varnel program as a child process for end-to-end tests: its
// standard output goes where the test says, its standard error is collected,
// and keys reach its windows through Qt's VNC platform (the test is the VNC
// client), so the program runs exactly as an operator starts it.
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace varnel::test {

class AppProcess {
 public:
  // X keysyms for the keys the tests press.
  static constexpr unsigned kTab = 0xff09, kReturn = 0xff0d, kEscape = 0xff1b, kEnd = 0xff57;

  // Starts varnel with standard output on stdoutFd (the caller keeps its copy);
  // portsDir is where simulators publish their ports.
  AppProcess(int stdoutFd, const std::string& portsDir);
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  bool Started() const { return child_ && child_->Started() && vnc_ >= 0; }
  pid_t Pid() const { return child_ ? child_->Pid() : -1; }

  // Presses and releases each key in turn on the window that has the focus.
  bool Press(const std::vector<unsigned>& keysyms);
  // Waits until the connect dialog has listed the ports (it reads portsDir
  // as it opens).
  bool WaitForPortListing(std::chrono::milliseconds timeout);
  // Once the connect dialog is up, connects to the last port it lists (a
  // simulator published in the test's own runtime directory comes last).
  bool ConnectToLastPort() {
    return WaitForPortListing(std::chrono::seconds(20)) && Press({kEnd, kTab, kReturn});
  }

  // Waits up to timeout for the program to end; answers whether it did.
  bool WaitForExit(std::chrono::milliseconds timeout) { return child_ && child_->WaitForExit(timeout); }
  // After WaitForExit: whether it ended by a signal, and the exit status or signal.
  bool Signalled() const { return child_ && child_->Signalled(); }
  int ExitCode() const { return child_ ? child_->ExitCode() : 0; }
  bool Running() { return child_ && child_->Running(); }

  // Everything it wrote to standard error so far.
  std::string Errors() const { return child_ ? child_->Errors() : std::string(); }

 private:
  bool ConnectVnc(int port, std::chrono::milliseconds timeout);

  std::unique_ptr<ChildProcess> child_;
  int vnc_ = -1;      // the VNC connection: keys go out through it
  int inotify_ = -1;  // watches the published ports' folder for the connect dialog's look
};

}  // namespace varnel::test
