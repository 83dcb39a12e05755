#include "link/FrameReceiver.h"

#include <cstring>

#include "link/TrafficDump.h"

namespace varnel {
namespace {

bool IsPreambleByte(std::uint8_t b) { return b == 0xAA || b == 0xBB; }

}  // namespace

void FrameReceiver::Feed(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) RecvData(bytes[i]);
}

void FrameReceiver::RecvData(std::uint8_t byte) {
  Step(byte);
  while (replayBegin_ < replayEnd_) Step(replay_[replayBegin_++]);
  replayBegin_ = replayEnd_ = 0;
}

void FrameReceiver::Reset() {
  index_ = 0;
  bodyCount_ = 0;
  state_ = State::Hunt;
  replayBegin_ = replayEnd_ = 0;
}

void FrameReceiver::LineIdle(std::chrono::milliseconds quiet) {
  if (quiet < kIdleResync) return;
  while (index_ > 0) {
    if (state_ == State::Hunt) {
      index_ = 0;  // up to three preamble bytes with nothing after them
      return;
    }
    // Nothing more is coming for this frame. A good frame that began inside
    // it is delivered by the replay; what is left after it is looked at again.
    ++rejected_;
    Resynchronise();
    while (replayBegin_ < replayEnd_) Step(replay_[replayBegin_++]);
    replayBegin_ = replayEnd_ = 0;
  }
}

void FrameReceiver::Step(std::uint8_t byte) {
  switch (state_) {
    case State::Hunt:
      if (!IsPreambleByte(byte)) {
        index_ = 0;
        return;
      }
      // A mixed run keeps only the newest byte: AA AA BB starts over at BB.
      if (index_ > 0 && raw_[index_ - 1] != byte) index_ = 0;
      raw_[index_++] = byte;
      if (index_ == 4) state_ = State::Header;
      return;

    case State::Header:
      raw_[index_++] = byte;
      if (index_ < kLinkHeaderSize) return;
      std::memcpy(&frame_.preamble, raw_, 4);  // four equal bytes: byte order does not matter
      frame_.aux = raw_[4];
      frame_.code = raw_[5];
      frame_.length = static_cast<std::uint16_t>(raw_[6] | (raw_[7] << 8));
      if (frame_.length > kLinkMaxReceivedPayload) {
        ++rejected_;
        Resynchronise();
        return;
      }
      bodyCount_ = 0;
      state_ = State::Body;
      return;

    case State::Body:
      raw_[index_++] = byte;
      if (bodyCount_ < frame_.length) frame_.payload[bodyCount_] = byte;
      ++bodyCount_;
      if (bodyCount_ == frame_.length + 2) FinishBody();
      return;
  }
}

void FrameReceiver::FinishBody() {
  const std::size_t body = kLinkHeaderSize + frame_.length;
  frame_.crc = static_cast<std::uint16_t>(raw_[body] | (raw_[body + 1] << 8));
  if (Crc16(raw_, body) != frame_.crc) {
    ++rejected_;
    Resynchronise();
    return;
  }
  ++delivered_;
  const std::uint16_t held = index_;
  index_ = 0;
  bodyCount_ = 0;
  state_ = State::Hunt;
  if (dump_) DumpTraffic(log_, raw_, held, "RecvData");
  if (handler_) handler_(frame_);
}

void FrameReceiver::Resynchronise() {
  // New replay: the held bytes after the first, then whatever still waited.
  std::uint8_t next[kMaxHeld];
  std::size_t n = 0;
  for (std::size_t i = 1; i < index_; ++i) next[n++] = raw_[i];
  for (std::size_t i = replayBegin_; i < replayEnd_ && n < kMaxHeld; ++i) next[n++] = replay_[i];
  std::memcpy(replay_, next, n);
  replayBegin_ = 0;
  replayEnd_ = n;
  index_ = 0;
  bodyCount_ = 0;
  state_ = State::Hunt;
}

}  // namespace varnel
