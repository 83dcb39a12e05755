// LockFileEx on a file beside what it guards. The lock covers one byte far past the
// end of the file, so the holder's "host pid" at its start stays readable to the others
// (Windows locks are mandatory for the bytes they cover). The file stays in place: a
// file opened by others cannot be removed there without a race of its own.
#include "platform/Win32.h"

#include <string>
#include <thread>

#include "platform/LockFile.h"

namespace varnel {
namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(20);

OVERLAPPED LockedRange() {
  OVERLAPPED range{};
  range.Offset = 0;
  range.OffsetHigh = 1;  // byte 4 GiB: never part of the holder text
  return range;
}

std::string ReadHolder(HANDLE file) {
  char text[256];
  DWORD got = 0;
  OVERLAPPED start{};
  if (!::ReadFile(file, text, sizeof text - 1, &got, &start)) got = 0;
  std::string holder(text, got);
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
  return holder;
}

std::string SystemWords(DWORD error) { return "Windows error " + std::to_string(error); }

}  // namespace

struct LockFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Handle() {
    OVERLAPPED range = LockedRange();
    ::UnlockFileEx(file, 0, 1, 0, &range);
    ::CloseHandle(file);
  }
};

LockFile::LockFile(State state, std::unique_ptr<Handle> handle) : state_(state), handle_(std::move(handle)) {}
LockFile::LockFile(LockFile&& other) noexcept = default;
LockFile& LockFile::operator=(LockFile&& other) noexcept = default;
LockFile::~LockFile() = default;

std::string LockHolderText() {
  char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof host;
  if (!::GetComputerNameA(host, &size)) host[0] = '?', host[1] = '\0';
  return std::string(host) + " " + std::to_string(::GetCurrentProcessId());
}

LockFile LockFile::Acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (;;) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    bool writable = true;
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
      file = ::CreateFileW(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
      writable = false;
    }
    if (file == INVALID_HANDLE_VALUE) {
      LockFile failed(State::Unavailable, nullptr);
      failed.reason_ = SystemWords(::GetLastError());
      return failed;
    }
    OVERLAPPED range = LockedRange();
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
      if (writable) {
        const std::string holder = LockHolderText() + "\r\n";
        DWORD written = 0;
        OVERLAPPED start{};
        ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file);
        ::WriteFile(file, holder.data(), static_cast<DWORD>(holder.size()), &written, &start);
      }
      auto handle = std::make_unique<Handle>();
      handle->file = file;
      return LockFile(State::Held, std::move(handle));
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
      ::CloseHandle(file);
      LockFile failed(State::Unavailable, nullptr);
      failed.reason_ = SystemWords(error);
      return failed;
    }
    std::string holder = ReadHolder(file);
    ::CloseHandle(file);
    if (std::chrono::steady_clock::now() >= deadline) {
      LockFile busy(State::Busy, nullptr);
      busy.holder_ = std::move(holder);
      return busy;
    }
    std::this_thread::sleep_for(kRetryInterval);  // the holder gives no signal when it lets go
  }
}

}  // namespace varnel
