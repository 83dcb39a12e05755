#pragma once
// What a whole firmware exchange puts on a serial line, and the least time it
// can take there: shared by the firmware benchmarks so they measure against
// the same limit.
#include <algorithm>
#include <cstdint>

#include "protocol/FirmwareTransfer.h"

namespace varnel::bench {

// Bytes on the wire for one whole exchange, both directions: F0 (11), F1 (22),
// each chunk 8 + 8 + n + 2, F3 (11), F4 (11), and an 11-byte status reply to
// each of those k + 4 requests.
inline std::uint64_t ExchangeWireBytes(std::uint32_t size) {
  const std::uint32_t chunks = OtaChunkCount(size);
  std::uint64_t bytes = 11 + 22 + 11 + 11;
  for (std::uint32_t sent = 0; sent < size; sent += OTA_CHUNK_SIZE)
    bytes += 18 + std::min(OTA_CHUNK_SIZE, size - sent);
  return bytes + 11ull * (chunks + 4);
}

// Stop-and-wait cannot beat the time its bytes take on the line: 10 bit times
// per byte (start, 8 data, stop) over every frame of the exchange.
inline double ExchangeWireSeconds(std::uint32_t size, std::uint32_t baud) {
  return static_cast<double>(ExchangeWireBytes(size)) * 10.0 / baud;
}

}  // namespace varnel::bench
