#include "tests/support/ThreadCpu.h"

#ifdef _WIN32
#include "platform/Win32.h"
#else
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#endif

namespace varnel::test {

#ifdef _WIN32
std::optional<std::chrono::milliseconds> ThreadCpuTime(long tid) {
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
std::optional<std::chrono::milliseconds> ThreadCpuTime(long tid) {
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

}  // namespace varnel::test
