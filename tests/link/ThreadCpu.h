#pragma once
// Processor time of one thread of this process, read from /proc (Linux), for
// tests that check a waiting thread really waits instead of spinning.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace varnel::test {

// User plus system time the thread with this kernel id has used so far;
// nothing when the thread is unknown.
inline std::optional<std::chrono::milliseconds> ThreadCpuTime(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  if (!in) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The thread's name (field 2) is in parentheses and may hold blanks: count from the last ')'.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int number = 3; fields >> field; ++number) {
    if (number == 14) utime = std::stoull(field);
    if (number == 15) {
      stime = std::stoull(field);
      const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
      return std::chrono::milliseconds((utime + stime) * 1000 / static_cast<unsigned long long>(ticksPerSecond));
    }
  }
  return std::nullopt;
}

// Share of one core a thread used between two readings, over the wall time between them.
inline double CpuShare(std::chrono::milliseconds cpuBefore, std::chrono::milliseconds cpuAfter,
                       std::chrono::steady_clock::duration wall) {
  const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
  return wallMs > 0 ? static_cast<double>((cpuAfter - cpuBefore).count()) / wallMs : 0.0;
}

}  // namespace varnel::test
