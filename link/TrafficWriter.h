#pragma once
// The program's trace on its standard output, written by a thread of its own.
//
// Whoever dumps only copies the text into a bounded queue, so a trace that
// nobody reads (a pipe left full) never holds up the thread that talks to the
// sensor or the operator. Each piece goes out with write(2) as soon as the
// writing thread gets to it, never held in a stdio buffer, so a killed tool
// leaves a trace that is whole up to the last frame it wrote out.
//
// A full queue drops whole pieces and counts their lines; the next piece that
// fits is preceded by one line saying how many were lost. A reader that goes
// away (EPIPE) or any other write error ends the trace with one line on the
// error stream; the tool goes on.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>

#include "link/TrafficDump.h"

namespace varnel {

class TrafficWriter final : public TrafficLog {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;  // queued text, bytes
  // How long closing waits for the queue to go out before it gives up on it.
  static constexpr std::chrono::milliseconds kCloseBound{1000};

  // fd: where the trace goes; the writer keeps a copy of its own, so the caller
  // may close fd at any time. errors: where the one line about
  // a trace that cannot be written goes.
  TrafficWriter(int fd, std::FILE* errors, std::size_t capacity = kDefaultCapacity);
  ~TrafficWriter() override;  // Close(kCloseBound)
  TrafficWriter(const TrafficWriter&) = delete;
  TrafficWriter& operator=(const TrafficWriter&) = delete;

  void Write(std::string_view text) override;

  // Waits up to bound until everything handed in before the call is written
  // (or the trace has ended). Answers whether it was.
  bool Drain(std::chrono::milliseconds bound);
  // Drains within bound, then ends the writing thread. A thread stuck in a
  // write that never returns is left behind: quitting does not wait for it.
  // Later pieces are dropped. Safe to call twice.
  void Close(std::chrono::milliseconds bound);

  // Lines dropped because the queue was full, since construction.
  std::uint64_t DroppedLines() const;
  // Whether the trace has ended (closed reader, write error, Close()).
  bool Ended() const;

 private:
  struct Shared;
  static void Run(const std::shared_ptr<Shared>& shared);

  std::shared_ptr<Shared> shared_;  // also held by the writing thread, which may outlive this object
  std::thread thread_;              // owned by the thread that constructs and closes the writer
};

}  // namespace varnel
