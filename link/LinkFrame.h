#pragma once
// The frame every message travels in, both ways:
// preamble (4) | aux (1) | code (1) | length (2, LE) | payload (length) | crc (2, LE)
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace varnel {

constexpr std::size_t kLinkHeaderSize = 8;
constexpr std::size_t kLinkMaxPayload = 256;   // what a LinkFrame holds
constexpr std::size_t kLinkMaxReceivedPayload = 252;  // the largest payload the receiver accepts
constexpr std::size_t kLinkMaxWireFrame = kLinkHeaderSize + kLinkMaxPayload + 2;  // 266
constexpr std::uint32_t kHostPreamble = 0xBBBBBBBBu;
constexpr std::uint8_t kHostAux = 0x01;

struct LinkFrame {
  std::uint32_t preamble = kHostPreamble;
  std::uint8_t aux = kHostAux;
  std::uint8_t code = 0;
  std::uint16_t length = 0;
  std::uint8_t payload[kLinkMaxPayload] = {};
  std::uint16_t crc = 0;
};

// CRC-16/MODBUS: init 0xFFFF, reflected polynomial 0xA001, no final XOR.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t count);

// A host request with preamble BB BB BB BB and aux 01.
LinkFrame MakeRequest(std::uint8_t code, std::initializer_list<std::uint8_t> payload = {});
LinkFrame MakeRequest(std::uint8_t code, const std::uint8_t* payload, std::size_t count);

// Writes the first 8 + length bytes of the frame and its crc (low byte first)
// into out, which holds at least kLinkMaxWireFrame bytes; stores the crc in the
// frame too. Answers the wire length, length + 10. A length above 256 is cut to 256.
std::size_t SerialiseFrame(LinkFrame& frame, std::uint8_t* out);

// The header bytes 0..7 of a frame, in wire order.
void WriteHeader(const LinkFrame& frame, std::uint8_t* out);

}  // namespace varnel
