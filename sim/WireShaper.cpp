#include "sim/WireShaper.h"

#include <algorithm>

#include "link/LinkFrame.h"

namespace varnel::sim {

std::chrono::nanoseconds WireShaper::WireTime(std::uint64_t bytes) const {
  if (settings_.paceBaud == 0) return std::chrono::nanoseconds(0);
  // 10 bit times per byte; computed from the byte count each time, so long
  // runs do not gather rounding error.
  const long double ns = static_cast<long double>(bytes) * 10.0L * 1e9L / settings_.paceBaud;
  return std::chrono::nanoseconds(static_cast<std::int64_t>(ns + 0.5L));
}

void WireShaper::ResetTiming() {
  hostToSensorFree_ = {};
  sensorToHostFree_ = {};
  lastWrite_ = {};
}

std::uint8_t WireShaper::NoiseByte() {
  for (;;) {
    noiseState_ = noiseState_ * 1103515245u + 12345u;
    const auto b = static_cast<std::uint8_t>(noiseState_ >> 16);
    if (b != 0xAA && b != 0xBB) return b;
  }
}

void WireShaper::AddExtras(std::vector<std::uint8_t>& reply, std::uint8_t code) {
  if (code == 0) return;
  if (settings_.duplicateCode == code) {
    settings_.duplicateCode = 0;
    const std::vector<std::uint8_t> copy = reply;
    reply.insert(reply.end(), copy.begin(), copy.end());
    ++counts_.duplicated;
  }
  if (settings_.unrequestedCode && settings_.unrequestedAfter == code) {
    const std::uint8_t status = 0;
    LinkFrame extra = MakeRequest(settings_.unrequestedCode, &status, 1);  // a reply has the request's header
    settings_.unrequestedCode = settings_.unrequestedAfter = 0;
    std::uint8_t wire[kLinkMaxWireFrame];
    reply.insert(reply.end(), wire, wire + SerialiseFrame(extra, wire));
    ++counts_.unrequested;
  }
}

std::vector<WireWrite> WireShaper::Shape(std::vector<std::uint8_t> reply, SimTime requestArrived,
                                         std::size_t requestBytes) {
  // The request occupies the host-to-sensor direction whether or not it is answered.
  SimTime requestDone = requestArrived;
  if (settings_.paceBaud) {
    requestDone = std::max(requestArrived, hostToSensorFree_) + WireTime(requestBytes);
    hostToSensorFree_ = requestDone;
  }

  if (reply.empty()) return {};
  if (settings_.silent) {
    ++counts_.silenced;
    return {};
  }
  if (settings_.dropEvery && ++dropCounter_ % settings_.dropEvery == 0) {
    ++counts_.dropped;
    return {};
  }
  const std::uint8_t code = reply.size() >= kLinkHeaderSize + 2 ? reply[5] : 0;
  if (code) ++counts_.sentByCode[code];
  if (settings_.preambleAA && reply.size() >= kLinkHeaderSize + 2) {
    std::fill(reply.begin(), reply.begin() + 4, std::uint8_t{0xAA});
    const std::size_t body = reply.size() - 2;
    const std::uint16_t crc = Crc16(reply.data(), body);
    reply[body] = static_cast<std::uint8_t>(crc);
    reply[body + 1] = static_cast<std::uint8_t>(crc >> 8);
  }
  if (settings_.corruptEvery && ++corruptCounter_ % settings_.corruptEvery == 0 && reply.size() >= 2) {
    reply[reply.size() - 2] ^= 0xFF;
    reply[reply.size() - 1] ^= 0xFF;
    ++counts_.corrupted;
  }
  if (settings_.noiseBytes) {
    std::vector<std::uint8_t> noisy;
    noisy.reserve(settings_.noiseBytes + reply.size());
    for (std::uint32_t i = 0; i < settings_.noiseBytes; ++i) noisy.push_back(NoiseByte());
    noisy.insert(noisy.end(), reply.begin(), reply.end());
    counts_.noiseBytes += settings_.noiseBytes;
    reply = std::move(noisy);
  }
  AddExtras(reply, code);
  ++counts_.replies;

  SimTime start = requestDone + settings_.delay;
  std::vector<WireWrite> writes;
  if (settings_.paceBaud) {
    start = std::max(start, sensorToHostFree_);
    writes.reserve(reply.size());
    for (std::size_t i = 0; i < reply.size(); ++i) {
      writes.push_back(WireWrite{start + WireTime(i + 1), {reply[i]}, settings_.split});
    }
    sensorToHostFree_ = start + WireTime(reply.size());
  } else if (settings_.split) {
    writes.reserve(reply.size());
    for (std::uint8_t b : reply) writes.push_back(WireWrite{start, {b}, true});
  } else {
    writes.push_back(WireWrite{start, std::move(reply), false});
  }
  for (WireWrite& w : writes) {
    w.at = std::max(w.at, lastWrite_);
    lastWrite_ = w.at;
  }
  return writes;
}

}  // namespace varnel::sim
