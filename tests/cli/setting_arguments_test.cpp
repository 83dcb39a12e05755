// The set command's words for the settings lists.
#include <gtest/gtest.h>

#include "cli/SettingArguments.h"

namespace varnel::cli {
namespace {

std::vector<std::uint8_t> Payload(const SettingWrite& write) {
  return {write.request.payload, write.request.payload + write.request.length};
}

TEST(SettingArguments, ListTextsAreTakenWithOrWithoutTheirUnit) {
  const SettingWrite rate = ParseSettingWrite("canrate", "500K", "std");
  ASSERT_TRUE(rate.accepted);
  EXPECT_EQ(rate.request.code, 0x93);
  EXPECT_EQ(Payload(rate), std::vector<std::uint8_t>{3});
  EXPECT_EQ(Payload(ParseSettingWrite("canrate", "1mbps", "std")), std::vector<std::uint8_t>{1});
  EXPECT_EQ(Payload(ParseSettingWrite("baud", "9600", "std")), std::vector<std::uint8_t>{5});
  EXPECT_EQ(Payload(ParseSettingWrite("output", "trigger", "std")), std::vector<std::uint8_t>{2});
  EXPECT_EQ(Payload(ParseSettingWrite("output", "被动查询", "std")), std::vector<std::uint8_t>{1});
  EXPECT_FALSE(ParseSettingWrite("baud", "9601", "std").accepted);
  EXPECT_FALSE(ParseSettingWrite("canrate", "500", "std").accepted);
  EXPECT_FALSE(ParseSettingWrite("canrate", "bps", "std").accepted);
}

TEST(SettingArguments, CanIdFollowsTheFrameType) {
  const SettingWrite ext = ParseSettingWrite("canid", "0x1ABCDEF0", "ext");
  ASSERT_TRUE(ext.accepted);
  EXPECT_EQ(Payload(ext), (std::vector<std::uint8_t>{0xF0, 0xDE, 0xBC, 0x1A, 1}));
  EXPECT_EQ(ParseSettingWrite("canid", "0x1ABCDEF0", "std").refusal, "请输入0x00-0x7F0之间的16进制数");
  EXPECT_EQ(ParseSettingWrite("canid", "5A0", "std").refusal, "请输入0x0-0x1FFFFFFF之内的16进制整数");
  EXPECT_FALSE(ParseSettingWrite("canid", "0x5A0", "both").accepted);
}

}  // namespace
}  // namespace varnel::cli
