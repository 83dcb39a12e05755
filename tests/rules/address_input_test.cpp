#include <gtest/gtest.h>

#include "ui/rules/AddressInput.h"

namespace varnel {
namespace {

const std::string kSerialRange = "请输入0x00-0xFF之间的16进制数";
const std::string kCanPrefix = "请输入0x0-0x1FFFFFFF之内的16进制整数";
const std::string kMalformed = "设备ID格式输入错误";
const std::string kStdRange = "请输入0x00-0x7F0之间的16进制数";
const std::string kExdRange = "请输入0x00-0x1FFFFFF0之间的16进制数";

TEST(HexAddressParse, PrefixThenDigitsThenNothing) {
  EXPECT_EQ(ParseHexAddress("0xFF").value, 0xFFu);
  EXPECT_EQ(ParseHexAddress("0X0a").value, 0x0Au);
  EXPECT_EQ(ParseHexAddress("0x0").status, HexStatus::Ok);
  EXPECT_EQ(ParseHexAddress("FF").status, HexStatus::MissingPrefix);
  EXPECT_EQ(ParseHexAddress("").status, HexStatus::MissingPrefix);
  EXPECT_EQ(ParseHexAddress("0").status, HexStatus::MissingPrefix);
  EXPECT_EQ(ParseHexAddress(" 0x1").status, HexStatus::MissingPrefix);
  EXPECT_EQ(ParseHexAddress("x0x1").status, HexStatus::MissingPrefix);
  EXPECT_EQ(ParseHexAddress("0x").status, HexStatus::Malformed);
  EXPECT_EQ(ParseHexAddress("0x1G").status, HexStatus::Malformed);
  EXPECT_EQ(ParseHexAddress("0x1 ").status, HexStatus::Malformed);
  EXPECT_EQ(ParseHexAddress("0x-1").status, HexStatus::Malformed);
  EXPECT_EQ(ParseHexAddress("0x\xE4\xB8\x80").status, HexStatus::Malformed);
}

TEST(HexAddressParse, SaturatesAboveLongMaximum) {
  EXPECT_EQ(ParseHexAddress("0x7FFFFFFF").value, 0x7FFFFFFFu);
  EXPECT_EQ(ParseHexAddress("0x80000000").value, 0x7FFFFFFFu);
  EXPECT_EQ(ParseHexAddress("0x123456789").value, 0x7FFFFFFFu);
  EXPECT_EQ(ParseHexAddress("0x00000000000000000010").value, 0x10u);
}

TEST(SerialNodeAddressRule, EdgeCasesAndMessages) {
  auto ff = CheckSerialNodeAddress("0xFF");
  EXPECT_TRUE(ff.accepted);
  EXPECT_EQ(ff.value, 0xFFu);
  EXPECT_TRUE(CheckSerialNodeAddress("0x0").accepted);
  EXPECT_EQ(CheckSerialNodeAddress("0X0a").value, 0x0Au);

  EXPECT_EQ(CheckSerialNodeAddress("0x100").message, kSerialRange);
  EXPECT_EQ(CheckSerialNodeAddress("FF").message, kSerialRange);
  EXPECT_EQ(CheckSerialNodeAddress("").message, kSerialRange);
  EXPECT_EQ(CheckSerialNodeAddress("0x").message, kMalformed);
  EXPECT_EQ(CheckSerialNodeAddress("0x1G").message, kMalformed);
  EXPECT_EQ(CheckSerialNodeAddress("0xF ").message, kMalformed);
  EXPECT_FALSE(CheckSerialNodeAddress("0x100").accepted);
}

TEST(CanNodeAddressRule, StandardIdentifier) {
  auto top = CheckCanNodeAddress("0x7F0", 0);
  EXPECT_TRUE(top.accepted);
  EXPECT_EQ(top.value, 0x7F0u);
  EXPECT_TRUE(CheckCanNodeAddress("0x0", 0).accepted);
  EXPECT_EQ(CheckCanNodeAddress("0x7F1", 0).message, kStdRange);
  EXPECT_EQ(CheckCanNodeAddress("0x800", 0).message, kStdRange);
  EXPECT_TRUE(CheckCanNodeAddress("0x800", 0).parsed);
}

TEST(CanNodeAddressRule, ExtendedIdentifier) {
  auto top = CheckCanNodeAddress("0x1FFFFFF0", 1);
  EXPECT_TRUE(top.accepted);
  EXPECT_EQ(top.value, 0x1FFFFFF0u);
  EXPECT_EQ(CheckCanNodeAddress("0x1FFFFFFF", 1).message, kExdRange);
  EXPECT_EQ(CheckCanNodeAddress("0x20000000", 1).message, kExdRange);
  // Nine digits saturate at 0x7FFFFFFF and fail the range test, not the format.
  auto nine = CheckCanNodeAddress("0x100000000", 1);
  EXPECT_EQ(nine.message, kExdRange);
  EXPECT_EQ(nine.value, 0x7FFFFFFFu);
}

TEST(CanNodeAddressRule, PrefixFormatAndUnknownFrameType) {
  EXPECT_EQ(CheckCanNodeAddress("7F0", 0).message, kCanPrefix);
  EXPECT_EQ(CheckCanNodeAddress("0x", 1).message, kMalformed);
  EXPECT_EQ(CheckCanNodeAddress("0x1G", 0).message, kMalformed);
  auto none = CheckCanNodeAddress("0x10", -1);
  EXPECT_FALSE(none.accepted);
  EXPECT_TRUE(none.message.empty());
  EXPECT_TRUE(none.parsed);
}

TEST(AddressRules, WhichTestFailedAndWhatWasReadBeforeIt) {
  // Accepted values carry no message.
  EXPECT_TRUE(CheckSerialNodeAddress("0xFF").message.empty());
  EXPECT_TRUE(CheckCanNodeAddress("0x7F0", 0).message.empty());
  EXPECT_TRUE(CheckCanNodeAddress("0x1ffffff0", 1).accepted);
  EXPECT_TRUE(CheckCanNodeAddress("0X00000000", 1).accepted);

  EXPECT_EQ(CheckCanNodeAddress("7F0", 0).format, HexStatus::MissingPrefix);
  EXPECT_EQ(CheckSerialNodeAddress("FF").format, HexStatus::MissingPrefix);
  EXPECT_EQ(CheckCanNodeAddress("0x800", 0).format, HexStatus::Ok);

  // A trailing blank is a format fault for both fields, whatever the range would say.
  auto blank = CheckCanNodeAddress("0x7F0 ", 0);
  EXPECT_EQ(blank.message, kMalformed);
  EXPECT_EQ(blank.format, HexStatus::Malformed);
  EXPECT_EQ(CheckCanNodeAddress("0x1FFFFFFF0 ", 1).message, kMalformed);
  EXPECT_EQ(CheckSerialNodeAddress("0x100 ").message, kMalformed);

  // The digits in front of the fault are still read, as string-to-long reads them.
  EXPECT_EQ(blank.value, 0x7F0u);
  EXPECT_EQ(CheckCanNodeAddress("0x1G", 1).value, 0x1u);
  EXPECT_EQ(CheckCanNodeAddress("0x", 1).value, 0u);
  EXPECT_EQ(ParseHexAddress("0x123456789Z").value, 0x7FFFFFFFu);
  EXPECT_EQ(ParseHexAddress("0x123456789Z").status, HexStatus::Malformed);
}

}  // namespace
}  // namespace varnel
