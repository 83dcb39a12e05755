#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/RuntimeDirectory.h"

namespace varnel {
namespace {

std::string UserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 1024;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
  return {};
}

}  // namespace

std::string UserRuntimeDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return runtime;
  // The same fallback the simulated sensor publishes under.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/runtime-" + UserName();
  ::mkdir(dir.c_str(), 0700);  // an existing one is fine; a missing one only means no ports yet
  return dir;
}

}  // namespace varnel
