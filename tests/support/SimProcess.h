#pragma once
// The simulated sensor as a child process for end-to-end tests: started with
// its options, steered through its standard input, read through its standard
// output. Each instance publishes its pseudo-terminal under a name of its own,
// so tests running side by side never meet.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace varnel::test {

class SimProcess {
 public:
  // Starts varnel-sensor-sim with these options (plus --name and
  // --exit-with-parent) and waits up to 10 s for its "pty"/"link" lines.
  explicit SimProcess(std::vector<std::string> options = {});
  ~SimProcess();  // SIGTERM, then waits for the child
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Started() const { return !linkPath_.empty(); }
  const std::string& PtyPath() const { return ptyPath_; }
  const std::string& LinkPath() const { return linkPath_; }
  const std::string& Name() const { return name_; }
  pid_t Pid() const { return pid_; }

  // Sends one control command line.
  void Command(const std::string& line);
  // Sends a command and waits for the first output line after it that starts
  // with answerPrefix; answers the line, or "" when none came in time.
  std::string Ask(const std::string& line, const std::string& answerPrefix,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // "state ..." / "stats ..." as key=value pairs.
  std::map<std::string, std::string> State();
  std::map<std::string, std::string> Stats();
  // Waits until a "state" answer satisfies the predicate, asking every 20 ms.
  template <typename Pred>
  bool WaitForState(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      if (pred(State())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling interval, not a wait for an event
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }
  // Waits for an output line that starts with prefix (lines already read count).
  std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout);

  // Every line the child printed so far.
  std::vector<std::string> Lines() const;

  static std::map<std::string, std::string> ParsePairs(const std::string& line);

 private:
  void ReadOutput();

  pid_t pid_ = -1;
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
};

}  // namespace varnel::test
