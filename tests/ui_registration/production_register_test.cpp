// Production registration from the main window against the simulated sensor:
// the serial number reaches the sensor, which reports it on its next identity
// chain, the ledger holds it, and the card search stays paused afterwards.
#include <QAbstractButton>
#include <QTest>
#include <QTimer>
#include <string>

#include "tests/support/SimProcess.h"
#include "tests/support/UiHarness.h"
#include "tests/ui_registration/RegistrationFixture.h"
#include "ui/ConnectDlg.h"
#include "ui/DevRegister.h"
#include "ui/VarnelDlg.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

constexpr int kSearchCard = 1003;
constexpr int kDeviceInfo = 1004;
constexpr int kProductionRegister = 1021;
constexpr int kSerialText = 1023;
constexpr int kRegister = 1024;

using ProductionRegisterTest = RegistrationFolderTest;

TEST_F(ProductionRegisterTest, SerialNumberReachesTheSensorAndTheLedgerWhileCardSearchStaysPaused) {
  SimProcess sim({"--sn", "24 3 A17"});
  ASSERT_TRUE(sim.Started());
  WriteLedger("");
  UiHarness harness;
  harness.ports = {sim.LinkPath()};
  harness.services.now = [] { return Utc(2019, 7, 5, 9, 30, 12); };
  CVarnelDlg dlg(harness.services);
  auto deviceInfo = [&] { return dlg.Control(kDeviceInfo)->Text(); };
  auto shows = [&](const std::string& line) { return deviceInfo().find(line) != std::string::npos; };

  bool buttonHidden = false;
  bool pollStoppedWhileOpen = false;
  bool returned = false;
  std::string captionAfter;
  bool searchActiveAfter = false;
  bool pollRunningAfter = true;
  std::map<std::string, std::string> stats;

  UiScript script;
  script
      .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
            [] { ActiveModal<CConnectDlg>()->OnConnect(); })
      .WaitFor("first identity chain", [&] { return shows("设备 S/N : 24-03-A17"); }, 15s)
      .Do([&] {
        buttonHidden = !dlg.Control(kProductionRegister)->IsShown();
        QTest::mouseClick(dlg.Control(kSearchCard)->Widget(), Qt::LeftButton);
      })
      .WaitFor("card search running",
               [&] { return harness.session.IsCardPollRunning() && dlg.Control(kSearchCard)->Text() == "停止寻卡"; })
      .Do([&] {
        // The button is hidden from the operator; the handler is reached directly.
        // Queued, so the script keeps running inside the registration dialog's own loop.
        QTimer::singleShot(0, &dlg, [&] {
          dlg.OnProductionRegister();
          returned = true;
        });
      })
      .When("registration dialog", [] { return ActiveModal<CDevRegister>() != nullptr; },
            [&] {
              pollStoppedWhileOpen = !harness.session.IsCardPollRunning();
              CDevRegister* reg = ActiveModal<CDevRegister>();
              QTest::keyClicks(reg->Control(kSerialText)->Widget(), "A0001");
              QTest::mouseClick(reg->Control(kRegister)->Widget(), Qt::LeftButton);
            })
      .WaitFor("registration dialog closed", [&] { return returned; })
      .WaitFor("sensor's status reply", [&] { return harness.boxes.Count() >= 1; })
      .WaitFor("sensor holds the new serial number", [&] { return sim.State()["sn"] == "19-07-A0001"; })
      .Do([&] { harness.session.SendIdentityQuery(); })
      .WaitFor("new serial number shown", [&] { return shows("设备 S/N : 19-07-A0001"); }, 15s)
      .Do([&] {
        captionAfter = dlg.Control(kSearchCard)->Text();
        searchActiveAfter = dlg.CardSearchActive();
        pollRunningAfter = harness.session.IsCardPollRunning();
        stats = sim.Stats();
        dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { dlg.RunModal(); }));

  EXPECT_TRUE(buttonHidden);
  EXPECT_TRUE(pollStoppedWhileOpen);
  // Paused: the search still counts as on and says so, but nothing polls.
  EXPECT_EQ(captionAfter, "停止寻卡");
  EXPECT_TRUE(searchActiveAfter);
  EXPECT_FALSE(pollRunningAfter);
  EXPECT_FALSE(shows("设备 S/N : 24-03-A17"));  // the box was emptied for the new chain

  // Exactly one registration write was answered, with success.
  EXPECT_NE(stats["codes"].find("EF:1"), std::string::npos) << stats["codes"];
  const std::vector<RecordedBox> boxes = harness.boxes.Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].text, "设置成功");
  EXPECT_EQ(boxes[0].caption, "提示");

  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
}

TEST_F(ProductionRegisterTest, ProductionRegisterButtonIsRegisteredButHidden) {
  // An operator cannot reach registration; a click on the (hidden) button still
  // opens the dialog, so the handler is wired to 1021.
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  WriteLedger("");
  UiHarness harness;
  harness.ports = {sim.LinkPath()};
  CVarnelDlg dlg(harness.services);
  bool hidden = false;
  bool opened = false;
  UiScript script;
  script
      .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
            [] { ActiveModal<CConnectDlg>()->OnConnect(); })
      .Do([&] {
        hidden = !dlg.Control(kProductionRegister)->IsShown();
        QTimer::singleShot(0, &dlg, [&] { dlg.Control(kProductionRegister)->Button()->click(); });
      })
      .When("registration dialog", [] { return ActiveModal<CDevRegister>() != nullptr; },
            [&] {
              opened = ActiveModal<CDevRegister>()->Caption() == "设备注册";
              QTest::keyClick(ActiveModal<CDevRegister>()->Control(kSerialText)->Widget(), Qt::Key_Escape);
            })
      .WaitFor("registration dialog closed", [] { return ActiveModal<CDevRegister>() == nullptr; })
      .Do([&] { dlg.EndDialog(kIdCancel); });
  EXPECT_TRUE(script.RunDuring([&] { dlg.RunModal(); }));
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(opened);
  EXPECT_EQ(ReadLedger(), "");
  EXPECT_EQ(sim.Stats()["codes"].find("EF"), std::string::npos);
}

}  // namespace
}  // namespace varnel::test
