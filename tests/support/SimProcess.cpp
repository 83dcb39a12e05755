#include "tests/support/SimProcess.h"


#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace varnel::test {
namespace {

std::string UniqueName() {
  static std::atomic<int> counter{0};
  return "test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> options) : name_(UniqueName()) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;

  ChildOptions spawn;
  spawn.args = {VARNEL_SIM_EXECUTABLE, "--name", name_, "--exit-with-parent"};
  spawn.args.insert(spawn.args.end(), options.begin(), options.end());
  spawn.descriptors = {{in[0], 0}, {out[1], 1}};
  child_ = std::make_unique<ChildProcess>(std::move(spawn));
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  if (!child_->Started()) return;
  reader_ = std::thread([this] { ReadOutput(); });
  const std::string pty = WaitForLine("pty ", std::chrono::seconds(10));
  const std::string link = WaitForLine("link ", std::chrono::seconds(10));
  if (!pty.empty()) ptyPath_ = pty.substr(4);
  if (!link.empty()) linkPath_ = link.substr(5);
}

SimProcess::~SimProcess() {
  if (child_) child_->Terminate(std::chrono::seconds(10));  // killed at the deadline
  child_.reset();
  if (stdinFd_ >= 0) close(stdinFd_);
  if (reader_.joinable()) reader_.join();  // the child's end closed when it exited
  if (stdoutFd_ >= 0) close(stdoutFd_);
}

void SimProcess::ReadOutput() {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
      }
      newLine_.notify_all();
    }
  }
}

void SimProcess::Command(const std::string& line) {
  if (stdinFd_ < 0) return;
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(stdinFd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::string SimProcess::Ask(const std::string& line, const std::string& answerPrefix,
                            std::chrono::milliseconds timeout) {
  std::size_t from;
  {
    std::lock_guard lock(mutex_);
    from = lines_.size();
  }
  Command(line);
  std::unique_lock lock(mutex_);
  std::string answer;
  newLine_.wait_for(lock, timeout, [&] {
    for (std::size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].rfind(answerPrefix, 0) == 0) {
        answer = lines_[i];
        return true;
      }
    }
    return false;
  });
  return answer;
}

std::string SimProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::string found;
  newLine_.wait_for(lock, timeout, [&] {
    for (const auto& l : lines_) {
      if (l.rfind(prefix, 0) == 0) {
        found = l;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<std::string> SimProcess::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::map<std::string, std::string> SimProcess::ParsePairs(const std::string& line) {
  std::map<std::string, std::string> pairs;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    const auto eq = word.find('=');
    if (eq != std::string::npos) pairs[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return pairs;
}


}  // namespace varnel::test
