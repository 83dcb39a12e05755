#include "platform/Win32.h"

#include <string>

#include "ledger/LedgerFile.h"

namespace varnel {
namespace {

// Owns one file handle.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != FALSE;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 1u << 20 ? 1u << 20 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Creates the temporary file exclusively. A file left under this name by an earlier
// process with the same id is stale and replaced; anything else in the way fails.
HANDLE CreateTemporary(const std::wstring& temp, DWORD attributes) {
  HANDLE file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS && ::DeleteFileW(temp.c_str())) {
    file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
  }
  return file;
}

bool RefusedByFolder(DWORD error) { return error == ERROR_ACCESS_DENIED; }

// Only plain files are removed: anything else under such a name was not made by a rewrite.
void RemoveLeftovers(const std::filesystem::path& target) {
  const std::filesystem::path folder = target.parent_path();
  const std::string base = target.filename().string();
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = (folder / (target.filename().native() + L".tmp-*")).native();
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::filesystem::path name(found.cFileName);
    if (IsTemporaryFor(base, name.string())) ::DeleteFileW((folder / name).c_str());
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

}  // namespace

std::optional<std::filesystem::path> ExistingRegularFile(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  return path;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  bytes.clear();
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    bytes.append(buffer, got);
  }
}

ReplaceOutcome ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes, bool removeLeftovers) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return ReplaceOutcome::Failed;
  }
  // The replacement must be allowed where writing the file in place would be refused.
  if (Handle probe(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      !probe.valid()) {
    return ReplaceOutcome::Failed;
  }
  if (removeLeftovers) RemoveLeftovers(path);

  const std::wstring temp = path.native() + L".tmp-" + std::to_wstring(::GetCurrentProcessId());
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  Handle file(CreateTemporary(temp, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL));
  if (!file.valid()) {
    return RefusedByFolder(::GetLastError()) ? ReplaceOutcome::FolderRefused : ReplaceOutcome::Failed;
  }
  bool ok = WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  if (!ok) {
    ::DeleteFileW(temp.c_str());
    return ReplaceOutcome::Failed;
  }
  if (!::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temp.c_str());
    return RefusedByFolder(error) ? ReplaceOutcome::FolderRefused : ReplaceOutcome::Failed;
  }
  return ReplaceOutcome::Replaced;
}

}  // namespace varnel
