#pragma once
// The hexadecimal address fields of the settings group. The tests run in this
// order: the "0x"/"0X" prefix, then the format (nothing may follow the digits),
// then the range; each failure has its own message.
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

enum class HexStatus { Ok, MissingPrefix, Malformed };

struct HexValue {
  HexStatus status = HexStatus::MissingPrefix;
  // Saturates at 0x7FFFFFFF. When Malformed: the digits read before the first
  // other character (0 when there were none), as a string-to-long conversion leaves them.
  std::uint32_t value = 0;
};

// "0x"/"0X", then at least one hexadecimal digit and nothing else. Values above
// 0x7FFFFFFF saturate there, as a base-16 string-to-long conversion does.
HexValue ParseHexAddress(std::string_view text);

struct AddressVerdict {
  bool accepted = false;
  bool parsed = false;       // the digits were read (value holds them)
  std::uint32_t value = 0;   // also set when malformed: the digits before the first other character
  std::string message;       // shown with the caption "警告"; empty when accepted or refused silently
  HexStatus format = HexStatus::MissingPrefix;  // which of the prefix and format tests failed, if any
};

// Serial node address: 0x00 to 0xFF.
AddressVerdict CheckSerialNodeAddress(std::string_view text);

// CAN node address for a frame-type list index: StdId (0) 0x000..0x7F0, ExdId (1)
// 0..0x1FFFFFF0, low four bits zero. Any other index refuses without a message.
AddressVerdict CheckCanNodeAddress(std::string_view text, int frameTypeIndex);

}  // namespace varnel
