#include "ui/rules/SettingCodes.h"

#include <cstdio>

namespace varnel {

std::uint8_t CodeForSelection(const SettingList& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.entries.size()) return list.noSelectionCode;
  return list.entries[static_cast<std::size_t>(index)].code;
}

int IndexForCode(const SettingList& list, std::uint8_t code) {
  for (std::size_t i = 0; i < list.entries.size(); ++i)
    if (list.entries[i].code == code) return static_cast<int>(i);
  return 0;
}

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
