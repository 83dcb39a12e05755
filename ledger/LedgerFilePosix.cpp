#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "ledger/LedgerFile.h"

namespace varnel {
namespace {

// Owns one file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and tells whether the close (which may report a late write error) worked.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A symbolic link is followed, so the link stays and the file it names gets the content.
bool ResolvedPath(const std::filesystem::path& path, std::string& resolved) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  resolved = real;
  std::free(real);
  return true;
}

// Makes the rename itself durable; the new content is already in place if this fails.
void SyncFolder(const std::string& filePath) {
  const std::string folder = std::filesystem::path(filePath).parent_path().string();
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

// Creates the temporary file for target, exclusively. A file left under this name by an
// earlier process with the same id is stale and replaced; anything else in the way fails.
int CreateTemporary(const std::string& temp) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY;
  int fd = ::open(temp.c_str(), kFlags, 0600);
  if (fd < 0 && errno == EEXIST && ::unlink(temp.c_str()) == 0) fd = ::open(temp.c_str(), kFlags, 0600);
  return fd;
}

bool RefusedByFolder(int err) { return err == EACCES || err == EPERM; }

// Only regular files are removed: anything else under such a name was not made by a rewrite.
// One that cannot be removed (another user's, in a shared folder) stays; it harms nothing.
void RemoveLeftovers(const std::string& target) {
  const std::filesystem::path file(target);
  const std::string folder = file.parent_path().string();
  const std::string base = file.filename().string();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryFor(base, entry->d_name)) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

}  // namespace

std::optional<std::filesystem::path> ExistingRegularFile(const std::filesystem::path& path) {
  std::string target;
  struct stat info {};
  if (!ResolvedPath(path, target) || ::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return std::filesystem::path(target);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
  // Non-blocking open: a pipe under the ledger's name must not hang the dialog.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  bytes.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

ReplaceOutcome ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes, bool removeLeftovers) {
  std::string target;
  struct stat info {};
  if (!ResolvedPath(path, target) || ::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return ReplaceOutcome::Failed;
  }
  // The rename would replace a read-only file too; honour its protection instead.
  if (Descriptor probe(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)); !probe.valid()) {
    return ReplaceOutcome::Failed;
  }
  if (removeLeftovers) RemoveLeftovers(target);

  const std::string temp = target + ".tmp-" + std::to_string(::getpid());
  Descriptor fd(CreateTemporary(temp));
  if (!fd.valid()) return RefusedByFolder(errno) ? ReplaceOutcome::FolderRefused : ReplaceOutcome::Failed;
  bool ok = ::fchmod(fd.get(), info.st_mode & 07777) == 0;
  if (ok && (info.st_uid != ::geteuid() || info.st_gid != ::getegid())) {
    // Only a privileged writer can hand the file back to its owner; otherwise it stays ours.
    [[maybe_unused]] const int owned = ::fchown(fd.get(), info.st_uid, info.st_gid);
  }
  ok = ok && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  if (!ok) {
    ::unlink(temp.c_str());
    return ReplaceOutcome::Failed;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return RefusedByFolder(err) ? ReplaceOutcome::FolderRefused : ReplaceOutcome::Failed;
  }
  SyncFolder(target);
  return ReplaceOutcome::Replaced;
}

}  // namespace varnel
