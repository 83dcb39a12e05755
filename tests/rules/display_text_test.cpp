#include <gtest/gtest.h>

#include "ui/rules/DisplayText.h"

namespace varnel {
namespace {

TEST(CardNumberText, StatusRules) {
  EXPECT_EQ(CardNumberText(0, 0).value(), "无卡");
  EXPECT_EQ(CardNumberText(0, 305).value(), "无卡");
  EXPECT_EQ(CardNumberText(1, 305).value(), "305");
  EXPECT_EQ(CardNumberText(1, 0xFFFFFFFF).value(), "-1");
  EXPECT_EQ(CardNumberText(1, 0x80000000).value(), "-2147483648");
  EXPECT_FALSE(CardNumberText(1, 0).has_value());
  EXPECT_FALSE(CardNumberText(2, 305).has_value());
}

TEST(FirmwarePathName, CaseSensitiveAnywhereInThePath) {
  EXPECT_TRUE(LooksLikeFirmwarePath("D:\\fw\\Rfid_v2.bin"));
  EXPECT_FALSE(LooksLikeFirmwarePath("D:\\fw\\rfid_v2.bin"));
  EXPECT_TRUE(LooksLikeFirmwarePath("D:\\Rfid\\firmware.bin"));
  EXPECT_TRUE(LooksLikeFirmwarePath("/home/op/Rfid.bin.old"));
  EXPECT_FALSE(LooksLikeFirmwarePath("D:\\fw\\Rfid.BIN"));
  EXPECT_FALSE(LooksLikeFirmwarePath(""));
}

TEST(SerialNumberText, DatePrefixAndNumber) {
  std::tm july2019{};
  july2019.tm_year = 119;
  july2019.tm_mon = 6;
  EXPECT_EQ(SerialDatePrefix(july2019), "19-07-");
  EXPECT_EQ(FormatSerialNumber(19, 8, "A0001"), "19-08-A0001");
  EXPECT_EQ(FormatSerialNumber(19, 7, ""), "19-07-");
  EXPECT_EQ(FormatSerialNumber(5, 12, "AB12"), "05-12-AB12");
}

TEST(ProgressText, CounterAndRate) {
  EXPECT_EQ(ProgressCounterText(0, 0), "0/0");
  EXPECT_EQ(ProgressCounterText(2, 3), "2/3");
  // 9830.4 B/s is 9.6 KB/s; 117964.8 bytes left take 12 s.
  EXPECT_EQ(TransferRateText(9830 * 2 + 1, 9830 * 2 + 1 + 117965, 2.0), "9.6 KB/s，剩余 00:12");
  EXPECT_EQ(TransferRateText(1000, 1000, 1.0), "1.0 KB/s，剩余 00:00");
  EXPECT_EQ(TransferRateText(0, 1000, 1.0), "-- KB/s，剩余 --:--");
  // The whole image: its average rate and the time it took, never a time left.
  EXPECT_EQ(TransferAverageText(65536, 6.8), "平均 9.4 KB/s，用时 00:07");
}

}  // namespace
}  // namespace varnel
