#include "ui/rules/AddressInput.h"

namespace varnel {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kSerialRange[] = "请输入0x00-0xFF之间的16进制数";
constexpr char kCanPrefix[] = "请输入0x0-0x1FFFFFFF之内的16进制整数";
constexpr char kMalformed[] = "设备ID格式输入错误";
constexpr char kStdRange[] = "请输入0x00-0x7F0之间的16进制数";
constexpr char kExdRange[] = "请输入0x00-0x1FFFFFF0之间的16进制数";

}  // namespace

HexValue ParseHexAddress(std::string_view text) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return {};
  const std::string_view digits = text.substr(2);
  if (digits.empty()) return {HexStatus::Malformed, 0};
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return {HexStatus::Malformed, 0};
    if (value <= 0x7FFFFFFFu) value = value * 16 + static_cast<unsigned>(d);
  }
  if (value > 0x7FFFFFFFu) value = 0x7FFFFFFFu;
  return {HexStatus::Ok, static_cast<std::uint32_t>(value)};
}

AddressVerdict CheckSerialNodeAddress(std::string_view text) {
  const HexValue hex = ParseHexAddress(text);
  if (hex.status == HexStatus::MissingPrefix) return {false, false, 0, kSerialRange};
  if (hex.status == HexStatus::Malformed) return {false, false, 0, kMalformed};
  if (hex.value > 0xFF) return {false, true, hex.value, kSerialRange};
  return {true, true, hex.value, {}};
}

AddressVerdict CheckCanNodeAddress(std::string_view text, int frameTypeIndex) {
  const HexValue hex = ParseHexAddress(text);
  if (hex.status == HexStatus::MissingPrefix) return {false, false, 0, kCanPrefix};
  if (hex.status == HexStatus::Malformed) return {false, false, 0, kMalformed};
  const bool aligned = (hex.value & 0xFu) == 0;
  switch (frameTypeIndex) {
    case 0:
      if (hex.value > 0x7FF || !aligned) return {false, true, hex.value, kStdRange};
      return {true, true, hex.value, {}};
    case 1:
      if (hex.value > 0x1FFFFFFF || !aligned) return {false, true, hex.value, kExdRange};
      return {true, true, hex.value, {}};
    default:
      return {false, true, hex.value, {}};
  }
}

}  // namespace varnel
