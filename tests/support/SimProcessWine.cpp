#include "tests/support/SimProcess.h"

#include <cstdio>
#include <cstdlib>

#include "tests/support/SimRelay.h"

// The other end of the "@simctl" requests of tests/support/wine_sim_run.py: one
// line out on standard output, its answer in on standard input.
namespace varnel::test {
namespace {

// "+LINE" for a line found, "-" for none.
std::string FoundLine(const std::string& answer) { return answer.rfind('+', 0) == 0 ? answer.substr(1) : ""; }

std::string Millis(std::chrono::milliseconds ms) { return std::to_string(ms.count()); }

}  // namespace

SimProcess::SimProcess(std::vector<std::string> options) {
  // Without the runner there is no simulator to ask for, and nobody to answer.
  if (SimRelay::Port().empty()) {
    std::fprintf(stderr, "no simulator: run this program through tests/support/wine_sim_run.py\n");
    return;
  }
  std::string request = "start";
  for (const std::string& option : options) request += "\t" + option;
  const std::string answer = Request(request);
  if (answer.rfind("ok ", 0) == 0) {
    linkPath_ = answer.substr(3);
  } else {
    std::fprintf(stderr, "the simulator did not start: %s\n", answer.c_str());
  }
}

SimProcess::~SimProcess() {
  std::lock_guard lock(mutex_);
  if (Started()) Request("stop");
}

std::string SimProcess::Request(const std::string& request) const {
  std::fflush(stdout);  // what the test printed before stays before the request
  std::fprintf(stdout, "@simctl %s\n", request.c_str());
  std::fflush(stdout);
  return SimRelay::ReadAnswerLine();
}

void SimProcess::Command(const std::string& line) {
  if (!Started()) return;
  std::lock_guard lock(mutex_);
  Request("send\t" + line);
}

std::string SimProcess::Ask(const std::string& line, const std::string& answerPrefix,
                            std::chrono::milliseconds timeout) {
  if (!Started()) return "";
  std::lock_guard lock(mutex_);
  return FoundLine(Request("ask\t" + Millis(timeout) + "\t" + answerPrefix + "\t" + line));
}

std::string SimProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
  if (!Started()) return "";
  std::lock_guard lock(mutex_);
  return FoundLine(Request("wait\t" + Millis(timeout) + "\t" + prefix));
}

std::vector<std::string> SimProcess::Lines() const {
  std::lock_guard lock(mutex_);
  if (!Started()) return lines_;
  // The simulator's output only grows: ask for what is new since the last time.
  const std::string count = Request("lines\t" + std::to_string(lines_.size()));
  for (long n = std::strtol(count.c_str(), nullptr, 10); n > 0; --n) lines_.push_back(SimRelay::ReadAnswerLine());
  return lines_;
}

std::map<std::string, std::string> SimProcess::ParsePairs(const std::string& line) { return SimRelay::Pairs(line); }

}  // namespace varnel::test
