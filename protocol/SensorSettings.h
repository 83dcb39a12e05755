#pragma once
// The sensor's settings as last reported by a reply or chosen by the operator.
// Reply handlers write it on the reader thread and the main dialog writes some
// fields on its own thread; the dialog reads it when a settings refresh arrives.
// Every field is atomic, so no lock is needed and no read is torn.
#include <atomic>
#include <cstdint>

namespace varnel {

struct SensorSettings {
  std::atomic<std::uint8_t> serialNodeAddress{0};  // 0x00..0xFF
  std::atomic<std::uint8_t> serialBaudCode{0};     // 1..5: 115200, 57600, 38400, 19200, 9600
  std::atomic<std::uint32_t> canNodeId{0};         // 11-bit or 29-bit identifier
  std::atomic<std::uint8_t> canFrameType{0};       // 0 standard, 1 extended
  std::atomic<std::uint8_t> canRateCode{0};        // 1..5: 1M, 800K, 500K, 250K, 125K
  std::atomic<std::uint8_t> outputModeCode{0};     // 1 passive query, 2 trigger; no reply reports it
};

}  // namespace varnel
