#pragma once
// The settings lists show codes at fixed indexes: code = index + 1 for the baud,
// CAN-rate and output-mode lists, code = index for the frame-type list.
// Codes the lists cannot show fall back to the first entry.
#include <cstdint>
#include <string>

namespace varnel {

constexpr int kBaudEntries = 5;        // "115200" .. "9600"
constexpr int kCanRateEntries = 5;     // "1Mbps" .. "125Kbps"
constexpr int kFrameTypeEntries = 2;   // "StdId", "ExdId"
constexpr int kOutputModeEntries = 2;  // "被动查询", "触发模式"

// The code sent for a list selection; no selection (-1) gives code 0.
std::uint8_t CodeForIndex(int index);
std::uint8_t FrameTypeForIndex(int index);

int IndexForBaudCode(std::uint8_t code);
int IndexForCanRateCode(std::uint8_t code);
int IndexForFrameType(std::uint8_t frameType);
int IndexForOutputMode(std::uint8_t code);

struct CanIdDisplay {
  std::string text;
  int charLimit;  // the edit's new character limit; 0 leaves it unchanged
};
// 0x%03X (limit 5) for StdId, 0x%08X (limit 10) for ExdId, "0x000" otherwise.
CanIdDisplay FormatCanNodeId(std::uint32_t canId, std::uint8_t frameType);
std::string FormatSerialNodeAddress(std::uint8_t address);

}  // namespace varnel
