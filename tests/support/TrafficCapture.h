#pragma once
// Catches the traffic trace in memory, so a test can read back exactly what
// the tool printed. Hand it to the receiver, link or transfer under test.
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

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

class TrafficCapture final : public TrafficLog {
 public:
  void Write(std::string_view text) override {
    std::lock_guard lock(mutex_);
    text_.append(text);
  }

  // Everything written so far.
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;  // written from the sending threads, read by the test
  std::string text_;
};

}  // namespace varnel::test
