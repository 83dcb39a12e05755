#include <gtest/gtest.h>

#include "ui/rules/SettingCodes.h"

namespace varnel {
namespace {

TEST(SettingCodes, IndexToCode) {
  EXPECT_EQ(CodeForIndex(4), 5);   // "9600" is baud code 5
  EXPECT_EQ(CodeForIndex(0), 1);
  EXPECT_EQ(CodeForIndex(-1), 0);  // no selection
  EXPECT_EQ(FrameTypeForIndex(1), 1);
  EXPECT_EQ(FrameTypeForIndex(-1), 0xFF);
}

TEST(SettingCodes, OutOfRangeCodesShowTheFirstEntry) {
  EXPECT_EQ(IndexForBaudCode(0), 0);
  EXPECT_EQ(IndexForBaudCode(6), 0);
  EXPECT_EQ(IndexForBaudCode(5), 4);
  EXPECT_EQ(IndexForCanRateCode(3), 2);
  EXPECT_EQ(IndexForCanRateCode(255), 0);
  EXPECT_EQ(IndexForFrameType(1), 1);
  EXPECT_EQ(IndexForFrameType(2), 0);
  EXPECT_EQ(IndexForOutputMode(2), 1);
  EXPECT_EQ(IndexForOutputMode(0), 0);
  EXPECT_EQ(IndexForOutputMode(3), 0);  // the list has two entries
}

TEST(SettingCodes, CanNodeIdDisplay) {
  EXPECT_EQ(FormatCanNodeId(0, 0).text, "0x000");
  EXPECT_EQ(FormatCanNodeId(0x5A0, 0).text, "0x5A0");
  EXPECT_EQ(FormatCanNodeId(0x10, 0).text, "0x010");
  EXPECT_EQ(FormatCanNodeId(0x10, 0).charLimit, 5);
  EXPECT_EQ(FormatCanNodeId(0x5A0, 1).text, "0x000005A0");
  EXPECT_EQ(FormatCanNodeId(0xFFFFFFFF, 1).text, "0xFFFFFFFF");
  EXPECT_EQ(FormatCanNodeId(0x5A0, 1).charLimit, 10);
  EXPECT_EQ(FormatCanNodeId(0x5A0, 2).text, "0x000");
  EXPECT_EQ(FormatCanNodeId(0x5A0, 2).charLimit, 0);
  EXPECT_EQ(FormatSerialNodeAddress(0), "0x00");
  EXPECT_EQ(FormatSerialNodeAddress(0xAB), "0xAB");
}

}  // namespace
}  // namespace varnel
