#include "link/LinkFrame.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace varnel {
namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu];
  return crc;
}

LinkFrame MakeRequest(std::uint8_t code, std::initializer_list<std::uint8_t> payload) {
  return MakeRequest(code, payload.begin(), payload.size());
}

LinkFrame MakeRequest(std::uint8_t code, const std::uint8_t* payload, std::size_t count) {
  LinkFrame frame;
  frame.code = code;
  count = std::min(count, kLinkMaxPayload);
  frame.length = static_cast<std::uint16_t>(count);
  if (count) std::memcpy(frame.payload, payload, count);
  return frame;
}

void WriteHeader(const LinkFrame& frame, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(frame.preamble);
  out[1] = static_cast<std::uint8_t>(frame.preamble >> 8);
  out[2] = static_cast<std::uint8_t>(frame.preamble >> 16);
  out[3] = static_cast<std::uint8_t>(frame.preamble >> 24);
  out[4] = frame.aux;
  out[5] = frame.code;
  out[6] = static_cast<std::uint8_t>(frame.length);
  out[7] = static_cast<std::uint8_t>(frame.length >> 8);
}

std::size_t SerialiseFrame(LinkFrame& frame, std::uint8_t* out) {
  if (frame.length > kLinkMaxPayload) frame.length = kLinkMaxPayload;
  WriteHeader(frame, out);
  std::memcpy(out + kLinkHeaderSize, frame.payload, frame.length);
  const std::size_t body = kLinkHeaderSize + frame.length;
  frame.crc = Crc16(out, body);
  out[body] = static_cast<std::uint8_t>(frame.crc);
  out[body + 1] = static_cast<std::uint8_t>(frame.crc >> 8);
  return body + 2;
}

}  // namespace varnel
