#pragma once
// Progress of firmware downloads running side by side, one line per port. On a
// terminal the lines are redrawn in place; elsewhere (a log, a pipe) a plain
// line goes out whenever a port passes another tenth of its image or ends.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel::cli {

enum class PortPhase { Opening, Sending, Checking, Finished };

struct PortProgress {
  std::string port;
  PortPhase phase = PortPhase::Opening;
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
  double elapsedSeconds = 0;  // since the transfer started
  std::string result;         // once Finished: "ok", or what went wrong
};

// One port's line: name, percent, rate and time left, or how it ended.
std::string ProgressLine(const PortProgress& progress);

class ProgressLines {
 public:
  // terminal: redraw in place (the stream is a terminal).
  ProgressLines(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
  // Called with every port's state, at the same ports each time.
  void Update(const std::vector<PortProgress>& ports);

 private:
  std::FILE* out_;
  bool terminal_;
  std::size_t drawn_ = 0;               // lines on the terminal to redraw
  std::vector<int> reportedTenths_;     // plain lines: the last tenth reported per port (-1: none)
  std::vector<PortPhase> reportedPhase_;
};

}  // namespace varnel::cli
