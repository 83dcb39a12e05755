#pragma once
// Whole-file access for the ledger: it is read in one piece and replaced in one piece,
// so a rewrite that fails half-way never leaves a damaged ledger behind.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// Reads all bytes of an existing regular file, untranslated. False when the file is
// missing, is not a regular file (a folder, a pipe) or cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

// The file path leads to, with symbolic links followed, when that is an existing regular
// file; nothing otherwise.
std::optional<std::filesystem::path> ExistingRegularFile(const std::filesystem::path& path);

enum class ReplaceOutcome {
  Replaced,
  Failed,         // the file is refused, the disk is full, the size limit is reached, ...
  FolderRefused,  // the folder's permissions do not allow replacing a file in it
};

// Replaces the content of the existing file at path with bytes. They are written to a
// temporary file in the same folder (named after the file, ".tmp-" and the process id),
// flushed to the disk and renamed over the file; the file keeps its permissions. A file
// that may not be written is refused. On failure the temporary file is removed and the
// old file is untouched.
// removeLeftovers: the caller holds the ledger's lock, so any temporary file of this
// name pattern is left over from a rewrite that was killed half-way; they are removed.
ReplaceOutcome ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes,
                                bool removeLeftovers = false);

// Whether name is one of the temporary files ReplaceWholeFile makes for a file named base.
inline bool IsTemporaryFor(std::string_view base, std::string_view name) {
  constexpr std::string_view kMark = ".tmp-";
  if (name.size() <= base.size() + kMark.size() || name.substr(0, base.size()) != base ||
      name.substr(base.size(), kMark.size()) != kMark) {
    return false;
  }
  for (const char c : name.substr(base.size() + kMark.size())) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace varnel
