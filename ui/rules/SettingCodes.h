#pragma once
// The settings lists: each entry's text beside the code the sensor knows it by.
// The lists are filled from these tables in this order and never re-sorted, so
// an entry's index is its place in its table. Codes a list cannot show fall
// back to its first entry.
#include <cstdint>
#include <span>
#include <string>

namespace varnel {

struct ListEntry {
  const char* text;  // UTF-8
  std::uint8_t code;
};

struct SettingList {
  std::span<const ListEntry> entries;
  // What a press with nothing selected sends: the index -1 read the way each
  // list reads an index (plus one, or as it is), kept to 8 bits.
  std::uint8_t noSelectionCode;
};

inline constexpr ListEntry kSerialBaudEntries[] = {
    {"115200", 1}, {"57600", 2}, {"38400", 3}, {"19200", 4}, {"9600", 5},
};
inline constexpr ListEntry kCanFrameTypeEntries[] = {
    {"StdId", 0},  // standard identifier
    {"ExdId", 1},  // extended identifier
};
inline constexpr ListEntry kCanRateEntries[] = {
    {"1Mbps", 1}, {"800Kbps", 2}, {"500Kbps", 3}, {"250Kbps", 4}, {"125Kbps", 5},
};
// The sensor knows a third mode (code 3) that the list does not offer.
inline constexpr ListEntry kOutputModeEntries[] = {
    {"被动查询", 1},  // passive query
    {"触发模式", 2},  // trigger mode
};

inline constexpr SettingList kSerialBaudList{kSerialBaudEntries, 0};
inline constexpr SettingList kCanFrameTypeList{kCanFrameTypeEntries, 0xFF};
inline constexpr SettingList kCanRateList{kCanRateEntries, 0};
inline constexpr SettingList kOutputModeList{kOutputModeEntries, 0};

// The code sent for the entry selected at index; no selection (-1) gives the
// list's noSelectionCode.
std::uint8_t CodeForSelection(const SettingList& list, int index);
// The index that shows code; a code the list does not hold shows index 0.
int IndexForCode(const SettingList& list, std::uint8_t code);

struct CanIdDisplay {
  std::string text;
  int charLimit;  // the edit's new character limit; 0 leaves it unchanged
};
// 0x%03X (limit 5) for StdId, 0x%08X (limit 10) for ExdId, "0x000" otherwise.
CanIdDisplay FormatCanNodeId(std::uint32_t canId, std::uint8_t frameType);
std::string FormatSerialNodeAddress(std::uint8_t address);

}  // namespace varnel
