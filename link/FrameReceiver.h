#pragma once
// The receive state machine: turns the byte stream from the port into checked
// frames and hands each one to the frame handler.
//
// It resynchronises eagerly: a preamble is four equal bytes (AA AA AA AA or
// BB BB BB BB) and a mixed run keeps only its newest equal bytes; after a bad
// checksum, or a header announcing more than 252 payload bytes, the bytes held
// after the first byte of the broken frame are searched again, so a good frame
// that began inside a damaged one is still delivered. Feeding byte by byte or in
// one burst gives the same frames.
//
// A frame still incomplete when the line has fallen silent for longer than the
// largest frame takes on the wire is broken too (a stray preamble byte before
// a reply makes the reply's first byte look like aux and its crc like part of
// a long payload): the reader reports the silence through LineIdle, and the
// held bytes are searched again at once instead of waiting for bytes that are
// not coming.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/LinkFrame.h"
#include "link/TrafficDump.h"

namespace varnel {

// Runs on the reader thread; the frame is valid only during the call.
using FrameHandler = std::function<void(const LinkFrame&)>;

class FrameReceiver {
 public:
  static constexpr std::size_t kMaxHeld = kLinkHeaderSize + kLinkMaxReceivedPayload + 2;  // 262
  // The largest frame at 115200 Bd (262 bytes of 10 bits: 22.7 ms), plus room
  // for a USB adapter's latency and a busy reader thread.
  static constexpr std::chrono::milliseconds kIdleResync{23 + 50};

  // Installed before the first byte is fed; good frames are dumped and dropped while empty.
  void SetFrameHandler(FrameHandler handler) { handler_ = std::move(handler); }
  // Where good frames are dumped with the label "RecvData"; none by default.
  // Set before the first byte is fed.
  void SetTrafficLog(TrafficLog* log) { log_ = log; }
  // Whether good frames are dumped to the log (on by default).
  void SetDumpEnabled(bool enabled) { dump_ = enabled; }

  // The receive state machine: takes one byte from the line; a byte that
  // completes a good frame has it dumped and handled before this returns.
  void RecvData(std::uint8_t byte);
  void Feed(const std::uint8_t* bytes, std::size_t count);  // RecvData for each, in order

  // The line has carried nothing for quiet. From kIdleResync on, whatever is
  // held cannot become a frame any more: it is searched again after its first
  // byte, as after a bad checksum, and then dropped.
  void LineIdle(std::chrono::milliseconds quiet);
  // Whether part of a frame (or a possible preamble) is held: the reader then
  // watches for the line falling idle.
  bool HoldsBytes() const { return index_ > 0; }

  // Drops a partly received frame, as after a reopened port.
  void Reset();

  // Counters for diagnostics and tests.
  std::uint64_t FramesDelivered() const { return delivered_; }
  std::uint64_t FramesRejected() const { return rejected_; }

 private:
  enum class State { Hunt, Header, Body };

  void Step(std::uint8_t byte);
  void FinishBody();
  // Starts hunting again over the held bytes after the first one.
  void Resynchronise();

  std::uint8_t raw_[kMaxHeld] = {};
  std::uint16_t index_ = 0;      // bytes held in raw_
  std::uint16_t bodyCount_ = 0;  // payload and trailer bytes taken
  State state_ = State::Hunt;
  LinkFrame frame_;
  FrameHandler handler_;
  TrafficLog* log_ = nullptr;  // set before the first byte, like the handler
  bool dump_ = true;

  // Bytes waiting to be fed again after a resynchronisation. Held bytes plus
  // waiting bytes never exceed kMaxHeld: each resynchronisation drops one byte.
  std::uint8_t replay_[kMaxHeld] = {};
  std::size_t replayBegin_ = 0;
  std::size_t replayEnd_ = 0;

  std::uint64_t delivered_ = 0;
  std::uint64_t rejected_ = 0;
};

}  // namespace varnel
