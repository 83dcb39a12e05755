// Fuzz target for the receive state machine.
//
// Invariants:
//  - nothing is stored outside the receiver's buffers (AddressSanitizer watches);
//  - every frame handed over has a matching crc, a preamble of four equal
//    preamble bytes and at most 252 payload bytes;
//  - a well-formed frame is always delivered, exactly as sent, when it follows
//    noise that holds no preamble byte: on a fresh receiver, and on a receiver
//    that has eaten the arbitrary input followed by a frame's worth of such noise;
//  - a well-formed frame is always delivered, exactly as sent, when it follows
//    the arbitrary input and a silence of the line (nothing held survives it).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/FrameReceiver.h"
#include "link/LinkFrame.h"
#include "link/TrafficDump.h"

namespace {

using varnel::FrameReceiver;
using varnel::LinkFrame;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "receiver invariant broken: %s\n", what);
  std::abort();
}

void CheckDelivered(const LinkFrame& f) {
  Require(f.length <= varnel::kLinkMaxReceivedPayload, "payload longer than 252");
  Require(f.preamble == 0xAAAAAAAAu || f.preamble == 0xBBBBBBBBu, "preamble");
  std::uint8_t bytes[varnel::kLinkMaxWireFrame];
  varnel::WriteHeader(f, bytes);
  std::memcpy(bytes + varnel::kLinkHeaderSize, f.payload, f.length);
  Require(varnel::Crc16(bytes, varnel::kLinkHeaderSize + f.length) == f.crc, "crc");
}

struct Expected {
  std::vector<std::uint8_t> wire;  // the frame as sent
  LinkFrame frame;
};

// A well-formed frame whose fields come from the input.
Expected MakeFrame(const std::uint8_t* data, std::size_t size) {
  Expected e;
  e.frame.preamble = size > 0 && (data[0] & 1) ? 0xAAAAAAAAu : 0xBBBBBBBBu;
  e.frame.aux = size > 1 ? data[1] : 0;
  e.frame.code = size > 2 ? data[2] : 0;
  const std::size_t length = size > 3 ? std::min<std::size_t>(size - 3, varnel::kLinkMaxReceivedPayload) : 0;
  e.frame.length = static_cast<std::uint16_t>(length);
  if (length) std::memcpy(e.frame.payload, data + 3, length);
  e.wire.resize(varnel::kLinkMaxWireFrame);
  e.wire.resize(varnel::SerialiseFrame(e.frame, e.wire.data()));
  return e;
}

bool SameFrame(const LinkFrame& a, const LinkFrame& b) {
  return a.preamble == b.preamble && a.aux == b.aux && a.code == b.code && a.length == b.length &&
         a.crc == b.crc && std::memcmp(a.payload, b.payload, a.length) == 0;
}

bool IsPreambleByte(std::uint8_t b) { return b == 0xAA || b == 0xBB; }

struct NullLog final : varnel::TrafficLog {
  void Write(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The dump runs too (its formatting is on the path), into nothing.
  static NullLog nullLog;

  const Expected expected = MakeFrame(data, size);

  // Arbitrary input, then plain noise long enough to finish any frame begun in
  // it, then the well-formed frame.
  {
    FrameReceiver receiver;
    receiver.SetTrafficLog(&nullLog);
    int afterNoise = 0;
    bool noiseDone = false;
    receiver.SetFrameHandler([&](const LinkFrame& f) {
      CheckDelivered(f);
      if (noiseDone) {
        Require(SameFrame(f, expected.frame), "frame after noise delivered altered");
        ++afterNoise;
      }
    });
    receiver.Feed(data, size);
    for (std::size_t i = 0; i < FrameReceiver::kMaxHeld; ++i) receiver.RecvData(static_cast<std::uint8_t>(i % 0xAA));
    noiseDone = true;
    receiver.Feed(expected.wire.data(), expected.wire.size());
    Require(afterNoise == 1, "frame after a frame's worth of plain noise not delivered exactly once");
  }

  // A fresh receiver: the input with every preamble byte taken out, then the frame.
  {
    FrameReceiver receiver;
    receiver.SetDumpEnabled(false);
    int delivered = 0;
    receiver.SetFrameHandler([&](const LinkFrame& f) {
      CheckDelivered(f);
      Require(SameFrame(f, expected.frame), "frame after plain noise delivered altered");
      ++delivered;
    });
    for (std::size_t i = 0; i < size; ++i)
      if (!IsPreambleByte(data[i])) receiver.RecvData(data[i]);
    receiver.Feed(expected.wire.data(), expected.wire.size());
    Require(delivered == 1, "frame after plain noise not delivered exactly once");
  }

  // Arbitrary input, the line falls silent, then the frame.
  {
    FrameReceiver receiver;
    receiver.SetTrafficLog(&nullLog);
    int afterIdle = 0;
    bool idleDone = false;
    receiver.SetFrameHandler([&](const LinkFrame& f) {
      CheckDelivered(f);
      if (!idleDone) return;
      Require(SameFrame(f, expected.frame), "frame after a silence delivered altered");
      ++afterIdle;
    });
    receiver.Feed(data, size);
    receiver.LineIdle(FrameReceiver::kIdleResync);
    Require(!receiver.HoldsBytes(), "bytes held across a silence");
    idleDone = true;
    receiver.Feed(expected.wire.data(), expected.wire.size());
    Require(afterIdle == 1, "frame after a silence not delivered exactly once");
  }
  return 0;
}
