#pragma once
// An exclusive lock between processes, held through a small file: flock on POSIX,
// LockFileEx on Windows. The holder writes "host pid" into the file, so a process that
// cannot get the lock can tell the operator who has it. The lock goes with the object,
// or with the process if that dies: the system releases it, never a stale file.
#include <chrono>
#include <memory>
#include <filesystem>
#include <string>

namespace varnel {

class LockFile {
 public:
  enum class State {
    Held,         // this object holds the lock
    Busy,         // another holder kept it for the whole wait; Holder() names it
    Unavailable,  // the lock file cannot be made or opened here (read-only folder, ...)
  };

  // Opens (creating) the file at path and takes its lock, trying again until wait has passed.
  static LockFile Acquire(const std::filesystem::path& path, std::chrono::milliseconds wait);

  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&& other) noexcept;
  ~LockFile();  // releases the lock

  State Status() const { return state_; }
  // While Busy: the holder's "host pid" as it wrote it (empty when it wrote nothing yet).
  const std::string& Holder() const { return holder_; }
  // While Unavailable: the system's words for why.
  const std::string& Reason() const { return reason_; }

 private:
  struct Handle;
  LockFile(State state, std::unique_ptr<Handle> handle);

  State state_;
  std::string holder_;
  std::string reason_;
  std::unique_ptr<Handle> handle_;  // only while Held
};

// "host pid" of this process, as a holder writes it.
std::string LockHolderText();

}  // namespace varnel
