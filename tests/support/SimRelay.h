#pragma once
// The simulated sensor seen from a Windows test program that
// tests/support/wine_sim_run.py runs under wine: the COM port mapped to it, and
// its control commands, relayed through this program's standard streams (a line
// "@sim COMMAND" out, the simulator's answer line in).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "tests/support/SimStats.h"

namespace varnel::test {

class SimRelay {
 public:
  // The COM port mapped to the simulator; "" when the program runs without the runner.
  static std::string Port() {
    const char* port = std::getenv("VARNEL_TEST_PORT");
    return port ? port : "";
  }

  // Sends one control command and answers the simulator's reply line: "ok ...",
  // "state ...", "stats ...", "error: ...", or "" when none came within 10 s.
  std::string Ask(const std::string& command) {
    std::lock_guard lock(mutex_);
    std::fflush(stdout);  // what the test printed before stays before the request
    std::fprintf(stdout, "@sim %s\n", command.c_str());
    std::fflush(stdout);
    return ReadAnswerLine();
  }

  // One answer line from the runner, without its line end.
  static std::string ReadAnswerLine() {
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) line.push_back(static_cast<char>(c));
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // The simulator's "state" answer as key=value pairs.
  std::map<std::string, std::string> State() { return Pairs(Ask("state")); }
  // Requests with this command byte the sensor has received so far.
  std::uint64_t RequestsOf(std::uint8_t code) { return RequestCount(Pairs(Ask("stats")), code); }

  static std::map<std::string, std::string> Pairs(const std::string& line) {
    std::map<std::string, std::string> pairs;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      const std::size_t eq = word.find('=');
      if (eq != std::string::npos) pairs[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return pairs;
  }

 private:
  std::mutex mutex_;  // one request and its answer at a time
};

}  // namespace varnel::test
