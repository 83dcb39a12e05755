// The main dialog's display rules, without a sensor: the settings formats, the
// device-information box and its notifications, and broken templates.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "protocol/CommandSet.h"
#include "tests/support/UiHarness.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

using test::UiHarness;

class MainDialogDisplay : public ::testing::Test {
 protected:
  UiHarness h;
  std::unique_ptr<CVarnelDlg> dlg = std::make_unique<CVarnelDlg>(h.services);

  void SetUp() override { dlg->FillSettingLists(); }
  std::string Text(int id) { return dlg->Control(id)->Text(); }
  int Selected(int id) { return dlg->Control(id)->SelectedIndex(); }
  SensorSettings& S() { return h.session.Settings(); }
};

TEST_F(MainDialogDisplay, AllZeroSettingsShowFirstEntriesAndZeroAddresses) {
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x000");
  EXPECT_EQ(Text(main_ids::EditSerialNodeAddr), "0x00");
  for (int id : {main_ids::ComSerialBaud, main_ids::ComCanFrameType, main_ids::ComCanRate, main_ids::ComSetOutMode})
    EXPECT_EQ(Selected(id), 0) << id;
  EXPECT_EQ(h.boxes.Count(), 0u);
}

TEST_F(MainDialogDisplay, ListsHoldTheirEntriesAtFixedIndexes) {
  auto* baud = dlg->Control(main_ids::ComSerialBaud);
  ASSERT_EQ(baud->ItemCount(), 5);
  EXPECT_EQ(baud->ItemText(0), "115200");
  EXPECT_EQ(baud->ItemText(4), "9600");
  EXPECT_EQ(dlg->Control(main_ids::ComCanFrameType)->ItemText(1), "ExdId");
  EXPECT_EQ(dlg->Control(main_ids::ComCanRate)->ItemText(2), "500Kbps");
  EXPECT_EQ(dlg->Control(main_ids::ComSetOutMode)->ItemText(1), "触发模式");
}

TEST_F(MainDialogDisplay, CanIdentifierFollowsTheFrameType) {
  S().canNodeId = 0x5A0;
  S().canFrameType = 1;
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x000005A0");
  EXPECT_EQ(dlg->Control(main_ids::EditCanNodeAddr)->LimitText(), 10);
  EXPECT_EQ(Selected(main_ids::ComCanFrameType), 1);

  S().canFrameType = 0;
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x5A0");
  EXPECT_EQ(dlg->Control(main_ids::EditCanNodeAddr)->LimitText(), 5);

  S().canNodeId = 0x10;
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x010");

  S().canFrameType = 2;  // unknown: a placeholder and the first entry
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x000");
  EXPECT_EQ(Selected(main_ids::ComCanFrameType), 0);
}

TEST_F(MainDialogDisplay, CodesSelectTheirEntriesAndOutOfRangeCodesTheFirst) {
  S().serialNodeAddress = 0xAB;
  S().serialBaudCode = 5;
  S().canRateCode = 3;
  S().outputModeCode = 2;
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditSerialNodeAddr), "0xAB");
  EXPECT_EQ(Selected(main_ids::ComSerialBaud), 4);
  EXPECT_EQ(Selected(main_ids::ComCanRate), 2);
  EXPECT_EQ(Selected(main_ids::ComSetOutMode), 1);

  S().serialBaudCode = 6;
  S().canRateCode = 0;
  dlg->ShowSettings();
  EXPECT_EQ(Selected(main_ids::ComSerialBaud), 0);
  EXPECT_EQ(Selected(main_ids::ComCanRate), 0);
}

TEST_F(MainDialogDisplay, SettingsRefreshActsOnlyOnNonZeroLParam) {
  S().serialNodeAddress = 0x42;
  dlg->OnSettingsRefresh(0);
  EXPECT_EQ(Text(main_ids::EditSerialNodeAddr), "");
  dlg->OnSettingsRefresh(0xFFFFFFFFu);
  EXPECT_EQ(Text(main_ids::EditSerialNodeAddr), "0x42");
}

TEST_F(MainDialogDisplay, DeviceInfoDecodesGbkAppendsClearsAndIgnoresTheRest) {
  // 固件版本 : V1.0.12 in GBK.
  const std::string gbk = "\xB9\xCC\xBC\xFE\xB0\xE6\xB1\xBE : V1.0.12\r\n";
  dlg->OnDeviceInfo(0, gbk);
  dlg->OnDeviceInfo(0, std::string("second\r\n"));
  EXPECT_EQ(Text(main_ids::EditDeviceInfo), "固件版本 : V1.0.12\r\nsecond\r\n");

  dlg->OnDeviceInfo(0, std::nullopt);  // null text: nothing
  dlg->OnDeviceInfo(5, std::string("ignored\r\n"));
  EXPECT_EQ(Text(main_ids::EditDeviceInfo), "固件版本 : V1.0.12\r\nsecond\r\n");

  dlg->OnDeviceInfo(0xFFFFFFFFu, std::nullopt);
  EXPECT_EQ(Text(main_ids::EditDeviceInfo), "");
}

TEST_F(MainDialogDisplay, BoxIsEmptiedBeforeAppendingOnceItHolds200Lines) {
  for (int i = 0; i < 198; ++i) dlg->OnDeviceInfo(0, "line " + std::to_string(i) + "\r\n");
  // 198 lines and the empty line after the last line end: 199.
  ASSERT_EQ(dlg->Control(main_ids::EditDeviceInfo)->LineCount(), 199);
  dlg->OnDeviceInfo(0, std::string("kept\r\n"));
  EXPECT_EQ(dlg->Control(main_ids::EditDeviceInfo)->LineCount(), 200);
  EXPECT_NE(Text(main_ids::EditDeviceInfo).find("line 0\r\n"), std::string::npos);

  dlg->OnDeviceInfo(0, std::string("fresh\r\n"));
  EXPECT_EQ(Text(main_ids::EditDeviceInfo), "fresh\r\n");
}

TEST(MainDialogTemplate, MissingControlsAreReportedAndTheStepSkipped) {
  UiHarness h;
  DialogTemplate t = MainDialogTemplate();
  ASSERT_TRUE(RemoveControl(t, main_ids::EditDeviceInfo));
  ASSERT_TRUE(RemoveControl(t, main_ids::ComCanFrameType));
  CVarnelDlg dlg(h.services, t);

  dlg.FillSettingLists();
  EXPECT_EQ(dlg.Control(main_ids::ComSerialBaud)->ItemCount(), 0);  // nothing filled
  dlg.ShowSettings();
  dlg.OnDeviceInfo(0, std::string("text\r\n"));

  const auto boxes = h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Combo对象不存在，初始化失败");
  EXPECT_EQ(boxes[1].text, "Combo对象不存在，初始化失败");
  EXPECT_EQ(boxes[2].text, "EditDeviceInfo对象不存在");
  EXPECT_EQ(boxes[2].caption, "");  // the application's name
}

}  // namespace
}  // namespace varnel
