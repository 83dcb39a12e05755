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
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/LinkFrame.h"

namespace varnel {

// Runs on the reader thread; the frame is valid only during the call.
using FrameHandler = std::function<void(const LinkFrame&)>;

class FrameReceiver {
 public:
  static constexpr std::size_t kMaxHeld = kLinkHeaderSize + kLinkMaxReceivedPayload + 2;  // 262

  // Installed before the first byte is fed; good frames are dumped and dropped while empty.
  void SetFrameHandler(FrameHandler handler) { handler_ = std::move(handler); }
  // Whether good frames are dumped with the label "RecvData" (on by default).
  void SetDumpEnabled(bool enabled) { dump_ = enabled; }

  void Feed(std::uint8_t byte);
  void Feed(const std::uint8_t* bytes, std::size_t count);

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
  bool dump_ = true;

  // Bytes waiting to be fed again after a resynchronisation. Held bytes plus
  // waiting bytes never exceed kMaxHeld: each resynchronisation drops one byte.
  std::uint8_t replay_[kMaxHeld] = {};
  std::size_t replayBegin_ = 0;
  std::size_t replayEnd_ = 0;

  std::uint64_t delivered_ = 0;
  std::uint64_t rejected_ = 0;
};

// The process-wide receiver the reader thread feeds; it belongs to the reader thread.
FrameReceiver& ProcessReceiver();
// Feeds one received byte to the process-wide receiver.
void RecvData(std::uint8_t byte);

}  // namespace varnel
