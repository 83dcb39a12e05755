#pragma once
// Helpers for driving the simulated sensor by hand: a clock the test moves,
// request frames, and the host's receiver to read what the sensor wrote.
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "link/FrameReceiver.h"
#include "link/LinkFrame.h"
#include "sim/SensorModel.h"
#include "sim/WireShaper.h"

namespace varnel::sim::test {

using Bytes = std::vector<std::uint8_t>;

struct ManualClock {
  SimTime now{} ;
  SimClock Get() {
    return [this] { return now; };
  }
  void Advance(std::chrono::milliseconds ms) { now += ms; }
};

inline LinkFrame Request(std::uint8_t code, std::initializer_list<std::uint8_t> payload = {}) {
  return MakeRequest(code, payload);
}

inline LinkFrame Request(std::uint8_t code, const Bytes& payload) {
  return MakeRequest(code, payload.data(), payload.size());
}

inline Bytes Wire(LinkFrame frame) {
  Bytes out(kLinkMaxWireFrame);
  out.resize(SerialiseFrame(frame, out.data()));
  return out;
}

struct Decoded {
  std::uint32_t preamble = 0;
  std::uint8_t code = 0;
  Bytes payload;
};

// Everything the host's receiver makes of the bytes.
struct HostView {
  std::vector<Decoded> frames;
  std::uint64_t rejected = 0;
};

inline HostView ReadAsHost(const Bytes& bytes) {
  HostView view;
  FrameReceiver receiver;
  receiver.SetDumpEnabled(false);
  receiver.SetFrameHandler([&](const LinkFrame& f) {
    view.frames.push_back(Decoded{f.preamble, f.code, Bytes(f.payload, f.payload + f.length)});
  });
  receiver.Feed(bytes.data(), bytes.size());
  view.rejected = receiver.FramesRejected();
  return view;
}

inline Bytes Concat(const std::vector<WireWrite>& writes) {
  Bytes out;
  for (const WireWrite& w : writes) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  return out;
}

}  // namespace varnel::sim::test
