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
  std::uint64_t value = 0;
  std::size_t used = 0;
  for (; used < digits.size(); ++used) {
    const int d = HexDigit(digits[used]);
    if (d < 0) break;
    if (value <= 0x7FFFFFFFu) value = value * 16 + static_cast<unsigned>(d);
  }
  if (value > 0x7FFFFFFFu) value = 0x7FFFFFFFu;
  // No digits, or anything after them, is malformed; the digits read so far still count.
  const HexStatus status = (used == 0 || used < digits.size()) ? HexStatus::Malformed : HexStatus::Ok;
  return {status, static_cast<std::uint32_t>(value)};
}

AddressVerdict CheckSerialNodeAddress(std::string_view text) {
  const HexValue hex = ParseHexAddress(text);
  AddressVerdict v{false, hex.status == HexStatus::Ok, hex.value, {}, hex.status};
  if (hex.status == HexStatus::MissingPrefix) {
    v.message = kSerialRange;
  } else if (hex.status == HexStatus::Malformed) {
    v.message = kMalformed;
  } else if (hex.value > 0xFF) {
    v.message = kSerialRange;
  } else {
    v.accepted = true;
  }
  return v;
}

AddressVerdict CheckCanNodeAddress(std::string_view text, int frameTypeIndex) {
  const HexValue hex = ParseHexAddress(text);
  AddressVerdict v{false, hex.status == HexStatus::Ok, hex.value, {}, hex.status};
  if (hex.status == HexStatus::MissingPrefix) {
    v.message = kCanPrefix;
    return v;
  }
  if (hex.status == HexStatus::Malformed) {
    v.message = kMalformed;
    return v;
  }
  const bool aligned = (hex.value & 0xFu) == 0;
  switch (frameTypeIndex) {
    case 0:
      if (hex.value > 0x7FF || !aligned) v.message = kStdRange;
      else v.accepted = true;
      break;
    case 1:
      if (hex.value > 0x1FFFFFFF || !aligned) v.message = kExdRange;
      else v.accepted = true;
      break;
    default:
      break;  // no frame type chosen: refused without a message
  }
  return v;
}

}  // namespace varnel
