#pragma once
// Processor time of one thread of this process, for tests that check a
// waiting thread really waits instead of spinning: read from /proc on Linux,
// asked of the system on Windows.
#ifdef _WIN32
#include "platform/Win32.h"
#else
#include <unistd.h>
#endif

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

namespace varnel::test {

// User plus system time the thread with this system id (DeviceLink's
// ReaderSystemThreadId) has used so far; nothing when the thread is unknown or has ended.
#ifdef _WIN32
inline std::optional<std::chrono::milliseconds> ThreadCpuTime(long tid) {
  HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(tid));
  if (thread == nullptr) return std::nullopt;
  FILETIME created{}, exited{}, kernel{}, user{};
  DWORD exitCode = 0;
  const bool running = ::GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE;
  const bool read = ::GetThreadTimes(thread, &created, &exited, &kernel, &user);
  ::CloseHandle(thread);
  if (!running || !read) return std::nullopt;
  auto ticks = [](const FILETIME& t) {  // 100 ns units
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return std::chrono::milliseconds((ticks(kernel) + ticks(user)) / 10000);
}
#else
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
#endif

// Share of one core a thread used between two readings, over the wall time between them.
inline double CpuShare(std::chrono::milliseconds cpuBefore, std::chrono::milliseconds cpuAfter,
                       std::chrono::steady_clock::duration wall) {
  const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
  return wallMs > 0 ? static_cast<double>((cpuAfter - cpuBefore).count()) / wallMs : 0.0;
}

}  // namespace varnel::test
