#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/RuntimeDirectory.h"

namespace varnel {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

// mkdir first, then look: a look before creating would race with whoever else creates it.
bool CheckRuntimeDirectory(const std::string& dir, std::string* problem) {
  if (::mkdir(dir.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) {
    *problem = SystemError("cannot create the runtime directory", dir);
    return false;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    *problem = SystemError("cannot examine the runtime directory", dir);
    return false;
  }
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
    *problem = "the runtime directory '" + dir + "' is not a directory";
    return false;
  }
  if (st.st_uid != ::geteuid()) {
    *problem = "the runtime directory '" + dir + "' belongs to another user";
    return false;
  }
  if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) {
    *problem = SystemError("cannot give the runtime directory mode 0700", dir);
    return false;
  }
  return true;
}

std::string UserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 1024;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return found->pw_name;
  }
  return {};  // unknown user: the directory is then plain "runtime-"
}

std::string TempPath() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && *tmp) return CleanPath(tmp);
  return "/tmp";
}

}  // namespace

std::string CleanPath(const std::string& path) {
  if (path.empty()) return path;
  const bool absolute = path.front() == '/';
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= path.size()) {
    const std::size_t slash = path.find('/', i);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    const std::string part = path.substr(i, end - i);
    if (part.empty() || part == ".") {
      // nothing
    } else if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (!absolute) parts.push_back(part);
    } else {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '/';
    out += parts[k];
  }
  if (out.empty()) out = ".";
  return out;
}

std::string UserRuntimeDirectory(std::string* problem, std::string* warning) {
  const char* env = std::getenv("XDG_RUNTIME_DIR");
  std::string reason;
  if (env && *env) {
    if (CheckRuntimeDirectory(env, &reason)) return env;
    if (warning) *warning = reason + "; using the fallback directory";
  }
  const std::string fallback = TempPath() + "/runtime-" + UserName();
  if (CheckRuntimeDirectory(fallback, &reason)) return fallback;
  if (problem) *problem = reason;
  return {};
}

}  // namespace varnel
