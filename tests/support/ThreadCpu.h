#pragma once
// Processor time of one thread of this process, for tests that check a
// waiting thread really waits instead of spinning: read from /proc on Linux,
// asked of the system on Windows (ThreadCpu.cpp).
#include <chrono>
#include <optional>

namespace varnel::test {

// User plus system time the thread with this system id (DeviceLink's
// ReaderSystemThreadId) has used so far; nothing when the thread is unknown or has ended.
std::optional<std::chrono::milliseconds> ThreadCpuTime(long tid);

// Share of one core a thread used between two readings, over the wall time between them.
inline double CpuShare(std::chrono::milliseconds cpuBefore, std::chrono::milliseconds cpuAfter,
                       std::chrono::steady_clock::duration wall) {
  const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
  return wallMs > 0 ? static_cast<double>((cpuAfter - cpuBefore).count()) / wallMs : 0.0;
}

}  // namespace varnel::test
