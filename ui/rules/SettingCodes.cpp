#include "ui/rules/SettingCodes.h"

#include <cstdio>

namespace varnel {
namespace {

int IndexForOneBasedCode(std::uint8_t code, int entries) {
  return (code >= 1 && code <= entries) ? code - 1 : 0;
}

}  // namespace

std::uint8_t CodeForIndex(int index) { return static_cast<std::uint8_t>(index + 1); }
std::uint8_t FrameTypeForIndex(int index) { return static_cast<std::uint8_t>(index); }

int IndexForBaudCode(std::uint8_t code) { return IndexForOneBasedCode(code, kBaudEntries); }
int IndexForCanRateCode(std::uint8_t code) { return IndexForOneBasedCode(code, kCanRateEntries); }
int IndexForFrameType(std::uint8_t frameType) { return frameType <= 1 ? frameType : 0; }
// Codes beyond the list (the sensor knows a third mode the list does not show) select the first entry.
int IndexForOutputMode(std::uint8_t code) { return IndexForOneBasedCode(code, kOutputModeEntries); }

CanIdDisplay FormatCanNodeId(std::uint32_t canId, std::uint8_t frameType) {
  char text[16];
  switch (frameType) {
    case 0:
      std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(canId));
      return {text, 5};
    case 1:
      std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(canId));
      return {text, 10};
    default:
      return {"0x000", 0};
  }
}

std::string FormatSerialNodeAddress(std::uint8_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(address));
  return text;
}

}  // namespace varnel
