#include <gtest/gtest.h>

#include "ui/rules/PortListing.h"

namespace varnel {
namespace {

using Names = std::vector<std::string>;

TEST(PortListingRule, ComRuleKeepsTheLeadingRunInEnumerationOrder) {
  auto l = ApplyPortListingRule({"COM4", "COM1"}, true);
  EXPECT_EQ(l.listed, (Names{"COM4", "COM1"}));
  EXPECT_EQ(l.portName, "COM4");

  EXPECT_EQ(ApplyPortListingRule({"COM3", "CNCA0", "COM5"}, true).listed, (Names{"COM3"}));
  EXPECT_EQ(ApplyPortListingRule({"COM3", "com4", "COM5"}, true).listed, (Names{"COM3"}));
  EXPECT_EQ(ApplyPortListingRule({"COM2", "COM2"}, true).listed, (Names{"COM2", "COM2"}));
}

TEST(PortListingRule, FirstNameIsThePortEvenWhenNotListed) {
  auto l = ApplyPortListingRule({"CNCA0", "COM2"}, true);
  EXPECT_TRUE(l.listed.empty());
  EXPECT_EQ(l.portName, "CNCA0");

  auto none = ApplyPortListingRule({}, true);
  EXPECT_TRUE(none.listed.empty());
  EXPECT_TRUE(none.portName.empty());
}

TEST(PortListingRule, PathsAreListedWithoutThePrefixTestAndCappedAt128) {
  Names many;
  for (int i = 0; i < 130; ++i) many.push_back("/dev/ttyUSB" + std::to_string(i));
  auto l = ApplyPortListingRule(many, false);
  ASSERT_EQ(l.listed.size(), 128u);
  EXPECT_EQ(l.listed.back(), "/dev/ttyUSB127");
  EXPECT_EQ(l.portName, "/dev/ttyUSB0");
}

}  // namespace
}  // namespace varnel
