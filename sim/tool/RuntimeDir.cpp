#include "sim/tool/RuntimeDir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace varnel::sim {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

bool MakeDirectory(const std::string& dir, std::string* problem) {
  if (::mkdir(dir.c_str(), 0700) == 0) return true;
  struct stat st {};
  if (errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  *problem = SystemError("cannot create the directory", dir);
  return false;
}

}  // namespace

std::string PortDirectory(const std::string& runtime, std::string* problem) {
  const std::string varnel = runtime + "/varnel";
  const std::string ports = varnel + "/ports";
  if (!MakeDirectory(varnel, problem) || !MakeDirectory(ports, problem)) return {};
  return ports;
}

bool PublishLink(const std::string& linkPath, const std::string& target, std::string* problem) {
  struct stat st {};
  if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    *problem = "'" + linkPath + "' exists and is not a symbolic link; not replacing it";
    return false;
  }
  // Made under a private name and renamed over the old one, so the name
  // always points somewhere valid while it exists.
  const std::string temp = linkPath + ".new-" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) {
    *problem = SystemError("cannot create the link", temp);
    return false;
  }
  if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
    *problem = SystemError("cannot publish the link", linkPath);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool RemoveLinkIfOurs(const std::string& linkPath, const std::string& target) {
  char buffer[4096];
  const ssize_t n = ::readlink(linkPath.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return false;
  if (std::string(buffer, static_cast<std::size_t>(n)) != target) return false;
  return ::unlink(linkPath.c_str()) == 0;
}

}  // namespace varnel::sim
