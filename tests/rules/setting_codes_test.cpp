#include <gtest/gtest.h>

#include "ui/rules/SettingCodes.h"

namespace varnel {
namespace {

TEST(SettingCodes, IndexToCode) {
  EXPECT_EQ(CodeForSelection(kSerialBaudList, 4), 5);  // "9600" is baud code 5
  EXPECT_EQ(CodeForSelection(kSerialBaudList, 0), 1);
  EXPECT_EQ(CodeForSelection(kSerialBaudList, -1), 0);  // no selection
  EXPECT_EQ(CodeForSelection(kCanRateList, 4), 5);      // "125Kbps"
  EXPECT_EQ(CodeForSelection(kCanRateList, -1), 0);
  EXPECT_EQ(CodeForSelection(kOutputModeList, 1), 2);   // "触发模式"
  EXPECT_EQ(CodeForSelection(kOutputModeList, -1), 0);
  EXPECT_EQ(CodeForSelection(kCanFrameTypeList, 0), 0);
  EXPECT_EQ(CodeForSelection(kCanFrameTypeList, 1), 1);
  EXPECT_EQ(CodeForSelection(kCanFrameTypeList, -1), 0xFF);  // refused later, without a message
}

TEST(SettingCodes, OutOfRangeCodesShowTheFirstEntry) {
  EXPECT_EQ(IndexForCode(kSerialBaudList, 0), 0);
  EXPECT_EQ(IndexForCode(kSerialBaudList, 6), 0);
  EXPECT_EQ(IndexForCode(kSerialBaudList, 5), 4);
  EXPECT_EQ(IndexForCode(kCanRateList, 3), 2);
  EXPECT_EQ(IndexForCode(kCanRateList, 255), 0);
  EXPECT_EQ(IndexForCode(kCanFrameTypeList, 1), 1);
  EXPECT_EQ(IndexForCode(kCanFrameTypeList, 2), 0);
  EXPECT_EQ(IndexForCode(kOutputModeList, 2), 1);
  EXPECT_EQ(IndexForCode(kOutputModeList, 0), 0);
  EXPECT_EQ(IndexForCode(kOutputModeList, 3), 0);  // the list has two entries
}

// What a press sends is what the list then shows again, for every entry.
TEST(SettingCodes, EveryEntryShowsTheCodeItSends) {
  for (const SettingList* list : {&kSerialBaudList, &kCanFrameTypeList, &kCanRateList, &kOutputModeList}) {
    for (int index = 0; index < static_cast<int>(list->entries.size()); ++index) {
      const std::uint8_t code = CodeForSelection(*list, index);
      EXPECT_NE(code, list->noSelectionCode) << list->entries[index].text;
      EXPECT_EQ(IndexForCode(*list, code), index) << list->entries[index].text;
    }
  }
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
