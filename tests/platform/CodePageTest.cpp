#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

// "固件版本 : V1.0.12\r\n" as the sensor sends it.
const std::string kFirmwareLineGbk =
    "\xB9\xCC\xBC\xFE\xB0\xE6\xB1\xBE"
    " : V1.0.12\r\n";
const std::string kFirmwareLineUtf8 = "固件版本 : V1.0.12\r\n";

TEST(CodePageTest, FirmwareLineConvertsBothWays) {
  EXPECT_EQ(Utf8ToCodePage(kFirmwareLineUtf8), kFirmwareLineGbk);
  EXPECT_EQ(CodePageToUtf8(kFirmwareLineGbk), kFirmwareLineUtf8);
  EXPECT_EQ(CodePageToUtf8(Utf8ToCodePage(kFirmwareLineUtf8)), kFirmwareLineUtf8);
}

TEST(CodePageTest, CharactersGbkCannotHoldBecomeOneQuestionMarkEach) {
  // A four-byte emoji and a Thai letter have no GBK form; the text around them survives.
  EXPECT_EQ(Utf8ToCodePage("A\xF0\x9F\x98\x80" "B"), "A?B");
  EXPECT_EQ(Utf8ToCodePage("\xE0\xB8\x81" "\xE5\x9B\xBA"), "?\xB9\xCC");
}

TEST(CodePageTest, BrokenGbkBytesDoNotSwallowTheRest) {
  // A lone lead byte at the end, and an invalid pair in the middle.
  EXPECT_EQ(CodePageToUtf8("AB\xB9"), "AB?");
  const std::string decoded = CodePageToUtf8("\xFF" "C");
  EXPECT_NE(decoded.find('C'), std::string::npos) << decoded;
}

}  // namespace
}  // namespace varnel
