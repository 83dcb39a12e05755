#pragma once
// Catches the traffic dump in a temporary file for as long as it lives, so a
// test can read back exactly what the tool printed.
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "link/TrafficDump.h"

namespace varnel::test {

// Everything written to a stream opened for update, read back from its start;
// the stream is left at its end for further writes.
inline std::string ReadWholeStream(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  std::fseek(file, 0, SEEK_END);
  return text;
}

class TrafficCapture {
 public:
  TrafficCapture() {
    std::random_device random;
    // A named file in the temporary folder: tmpfile() needs rights to the drive's root on Windows.
    path_ = std::filesystem::temp_directory_path() /
            ("varnel-dump-" + std::to_string(random()) + "-" + std::to_string(random()) + ".txt");
    file_ = std::fopen(path_.string().c_str(), "w+b");
    if (file_) SetTrafficSink(file_);
  }
  ~TrafficCapture() {
    SetTrafficSink(nullptr);
    if (file_) std::fclose(file_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TrafficCapture(const TrafficCapture&) = delete;
  TrafficCapture& operator=(const TrafficCapture&) = delete;

  bool Ok() const { return file_ != nullptr; }

  // Everything dumped so far.
  std::string Text() {
    return file_ ? ReadWholeStream(file_) : std::string();
  }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;  // the test's thread opens and closes it; the dump writes under its own stream lock
};

}  // namespace varnel::test
