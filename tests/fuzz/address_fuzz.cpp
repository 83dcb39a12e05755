// Fuzz target for the hexadecimal address rule of the settings group, against
// a reference written here on the C library's string-to-long conversion.
//
// Byte 0 of the input picks the CAN frame-type index (0, 1, 2 or -1); the rest
// is the text typed. For every text, ParseHexAddress, CheckSerialNodeAddress and
// CheckCanNodeAddress must agree with the reference on the prefix test, the
// format test, the value read (saturated at 0x7FFFFFFF), the verdict and the
// message, whatever bytes the text holds (blanks, signs, zeros, a second "0x").
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/rules/AddressInput.h"

namespace {

using varnel::AddressVerdict;
using varnel::HexStatus;

void Require(bool condition, const char* what, std::string_view text) {
  if (condition) return;
  std::fprintf(stderr, "address rule differs from the reference: %s, text of %zu bytes:", what, text.size());
  for (unsigned char c : text) std::fprintf(stderr, " %02X", c);
  std::fprintf(stderr, "\n");
  std::abort();
}

// Our own copies of the messages.
const std::string kSerialRange = "请输入0x00-0xFF之间的16进制数";
const std::string kCanPrefix = "请输入0x0-0x1FFFFFFF之内的16进制整数";
const std::string kMalformed = "设备ID格式输入错误";
const std::string kStdRange = "请输入0x00-0x7F0之间的16进制数";
const std::string kExdRange = "请输入0x00-0x1FFFFFF0之间的16进制数";

struct Reference {
  HexStatus status = HexStatus::MissingPrefix;
  std::uint32_t value = 0;
};

// The prefix is compared as two characters; then the whole text goes to strtoll
// with base 16, which skips the "0x" itself, and must be used up to its end
// (a zero byte inside the text ends the conversion early, so it is malformed).
// A 32-bit long saturates at 0x7FFFFFFF; strtoll saturates higher, so clamp.
Reference Parse(std::string_view text) {
  Reference r;
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return r;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), &end, 16);
  r.value = value > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<std::uint32_t>(value);
  r.status = (end == copy.c_str() + copy.size()) ? HexStatus::Ok : HexStatus::Malformed;
  return r;
}

void CheckCommon(const AddressVerdict& v, const Reference& r, std::string_view text) {
  Require(v.format == r.status, "prefix/format verdict", text);
  Require(v.parsed == (r.status == HexStatus::Ok), "parsed flag", text);
  if (r.status != HexStatus::MissingPrefix) Require(v.value == r.value, "value read", text);
  Require(!v.accepted || v.message.empty(), "accepted with a message", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const int kIndexes[] = {0, 1, 2, -1};
  const int frameTypeIndex = kIndexes[data[0] % 4];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const Reference ref = Parse(text);

  const varnel::HexValue hex = varnel::ParseHexAddress(text);
  Require(hex.status == ref.status, "ParseHexAddress status", text);
  if (ref.status != HexStatus::MissingPrefix) Require(hex.value == ref.value, "ParseHexAddress value", text);

  // Serial node address: prefix, format, then 0x00..0xFF.
  {
    const AddressVerdict v = varnel::CheckSerialNodeAddress(text);
    CheckCommon(v, ref, text);
    std::string message;
    bool accepted = false;
    if (ref.status == HexStatus::MissingPrefix) message = kSerialRange;
    else if (ref.status == HexStatus::Malformed) message = kMalformed;
    else if (ref.value > 0xFF) message = kSerialRange;
    else accepted = true;
    Require(v.accepted == accepted, "serial verdict", text);
    Require(v.message == message, "serial message", text);
  }

  // CAN node address: prefix, format, then the range of the frame type, low four bits zero.
  {
    const AddressVerdict v = varnel::CheckCanNodeAddress(text, frameTypeIndex);
    CheckCommon(v, ref, text);
    std::string message;
    bool accepted = false;
    const bool aligned = (ref.value & 0xF) == 0;
    if (ref.status == HexStatus::MissingPrefix) message = kCanPrefix;
    else if (ref.status == HexStatus::Malformed) message = kMalformed;
    else if (frameTypeIndex == 0 && ref.value <= 0x7FF && aligned) accepted = true;
    else if (frameTypeIndex == 0) message = kStdRange;
    else if (frameTypeIndex == 1 && ref.value <= 0x1FFFFFFF && aligned) accepted = true;
    else if (frameTypeIndex == 1) message = kExdRange;
    // any other index: refused without a message
    Require(v.accepted == accepted, "CAN verdict", text);
    Require(v.message == message, "CAN message", text);
  }
  return 0;
}
