#include "tests/support/ThisSystem.h"

// The system's own headers stay here: windows.h's macros would clash with the
// product's message names in the tests.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace varnel::test {

#ifdef _WIN32

// Wine maps COM1 on to the serial devices there are; wine_sim_run.py takes COM20..COM89.
std::string AbsentPortName(int n) { return "COM" + std::to_string(90 + n); }

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    n += entry.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snapshot);
  return n;
}

#else

std::string AbsentPortName(int n) { return n ? "/tmp/no-such-port-" + std::to_string(n) : "/tmp/no-such-port"; }

int ThreadCount() {
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

#endif

}  // namespace varnel::test
