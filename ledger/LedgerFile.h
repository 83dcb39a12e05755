#pragma once
// Whole-file access for the ledger: it is read in one piece and replaced in one piece,
// so a rewrite that fails half-way never leaves a damaged ledger behind.
#include <filesystem>
#include <string>
#include <string_view>

namespace varnel {

// Reads all bytes of an existing regular file, untranslated. False when the file is
// missing, is not a regular file (a folder, a pipe) or cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

// Replaces the content of the existing file at path with bytes. They are written to a
// temporary file in the same folder, flushed to the disk and renamed over the file; the
// file keeps its permissions. A file that may not be written is refused. On failure
// the temporary file is removed, the old file is untouched and the answer is false.
bool ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace varnel
