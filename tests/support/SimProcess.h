#pragma once
// The simulated sensor as a child process for end-to-end tests: started with
// its options, steered through its standard input, read through its standard
// output. Each instance publishes its pseudo-terminal under a name of its own,
// so tests running side by side never meet.
// In a Windows test program under wine (SimProcessWine.cpp) the simulator is
// the Linux one that tests/support/wine_sim_run.py runs beside the program:
// each instance restarts it with its own options behind the same COM port
// (LinkPath() is that port's name), and everything else goes through the runner.
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/SimStats.h"
#include "tests/support/Wait.h"
#ifndef _WIN32
#include <sys/types.h>

#include "tests/support/ChildProcess.h"
#endif

namespace varnel::test {

class SimProcess {
 public:
  // Starts varnel-sensor-sim with these options (plus --name and
  // --exit-with-parent) and waits up to 10 s for its "pty"/"link" lines.
  // (Windows: up to 10 s for the runner to say the link is up.)
  explicit SimProcess(std::vector<std::string> options = {});
  ~SimProcess();  // SIGTERM, then waits up to 10 s for the child before killing it
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Started() const { return !linkPath_.empty(); }
  const std::string& LinkPath() const { return linkPath_; }
#ifndef _WIN32
  const std::string& PtyPath() const { return ptyPath_; }
  const std::string& Name() const { return name_; }
  pid_t Pid() const { return child_ ? child_->Pid() : -1; }
#endif

  // Sends one control command line.
  void Command(const std::string& line);
  // Sends a command and waits for the first output line after it that starts
  // with answerPrefix; answers the line, or "" when none came in time.
  std::string Ask(const std::string& line, const std::string& answerPrefix,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // "state ..." / "stats ..." as key=value pairs.
  std::map<std::string, std::string> State() { return ParsePairs(Ask("state", "state ")); }
  std::map<std::string, std::string> Stats() { return ParsePairs(Ask("stats", "stats ")); }
  // Requests with this command byte the sensor has received so far.
  std::uint64_t RequestsOf(std::uint8_t code) { return RequestsOf(Stats(), code); }
  // The same from a "stats" answer already taken, so several codes are read
  // from one moment.
  static std::uint64_t RequestsOf(const std::map<std::string, std::string>& stats, std::uint8_t code) {
    return RequestCount(stats, code);
  }
  // Frames the sensor has received so far, whatever their code.
  std::uint64_t FramesSeen() { return std::strtoull(Stats()["frames"].c_str(), nullptr, 10); }
  // Waits until a "state" answer satisfies the predicate, asking every 20 ms.
  template <typename Pred>
  bool WaitForState(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return WaitUntil([&] { return pred(State()); }, timeout, std::chrono::milliseconds(20));
  }
  // Waits for an output line that starts with prefix (lines already read count).
  std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout);

  // Every line the child printed so far.
  std::vector<std::string> Lines() const;

  static std::map<std::string, std::string> ParsePairs(const std::string& line);

 private:
#ifdef _WIN32
  // Writes one request to the runner and reads its answer line. The lines
  // answering "lines" follow that one: they are read into lines_ (mutex_ held).
  std::string Request(const std::string& request) const;

  std::string linkPath_;
  mutable std::mutex mutex_;               // one request and its answer at a time; guards lines_
  mutable std::vector<std::string> lines_;  // the simulator's output fetched so far
#else
  void ReadOutput();

  std::unique_ptr<ChildProcess> child_;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string name_;
  std::string ptyPath_;
  std::string linkPath_;
  std::thread reader_;  // reads the child's standard output until it closes

  mutable std::mutex mutex_;       // guards lines_ and consumed_
  std::condition_variable newLine_;
  std::vector<std::string> lines_;
  std::size_t consumed_ = 0;  // lines already matched by Ask
#endif
};

}  // namespace varnel::test
