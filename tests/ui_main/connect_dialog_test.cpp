// The connect dialog as the operator meets it: the port list, failed and
// successful opens, and cancelling, which ends the program before anything runs.
#include <gtest/gtest.h>

#include "tests/support/SimProcess.h"
#include "tests/support/ThisSystem.h"
#include "tests/support/UiHarness.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

using test::ActiveModal;
using test::Key;
using test::PressKey;
using test::AbsentPortName;
using test::SimProcess;
using test::ThreadCount;
using test::UiHarness;
using test::UiScript;

CConnectDlg* Connect() { return ActiveModal<CConnectDlg>(); }

TEST(ConnectDialog, CancelEndsTheProgramWithNothingSentAndNoThreadStarted) {
  UiHarness h;
  h.ports = {AbsentPortName()};
  const int threadsBefore = ThreadCount();
  ASSERT_GT(threadsBefore, 0);
  CVarnelDlg dlg(h.services);
  int result = 0;
  bool ok = UiScript()
                .When("connect dialog", [] { return Connect() != nullptr; },
                      [] { PressKey(*Connect(), Key::Escape); })
                .RunDuring([&] { result = dlg.RunModal(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, kIdCancel);
  EXPECT_FALSE(dlg.Connected());
  EXPECT_FALSE(h.link.IsOpen());
  EXPECT_EQ(h.link.FramesSent(), 0u);
  EXPECT_FALSE(dlg.HasTimer(TIMER_LINK_START));
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_EQ(h.boxes.Count(), 0u);
}

TEST(ConnectDialog, ListsPortsInOrderWithTheBaudFixedAt115200) {
  UiHarness h;
  // Not in the order of their names: the list keeps the order they were reported in.
  h.ports = {AbsentPortName(2), AbsentPortName(1)};
  CConnectDlg dlg(h.services);
  UiScript()
      .Do([&] {
        auto* ports = dlg.Control(connect_ids::PortList);
        ASSERT_EQ(ports->ItemCount(), 2);
        EXPECT_EQ(ports->ItemText(0), AbsentPortName(2));
        EXPECT_EQ(ports->SelectedIndex(), 0);
        EXPECT_EQ(dlg.PortName(), AbsentPortName(2));
        auto* baud = dlg.Control(connect_ids::BaudList);
        EXPECT_EQ(baud->ItemText(baud->SelectedIndex()), "115200");
        EXPECT_FALSE(baud->IsEnabled());
        EXPECT_EQ(dlg.BaudRate(), 115200);
        dlg.EndDialog(kIdCancel);
      })
      .RunDuring([&] { dlg.RunModal(); });
}

TEST(ConnectDialog, FailedOpenKeepsTheDialogAndAnotherPortCanBeTried) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  UiHarness h;
  h.ports = {AbsentPortName(), sim.LinkPath()};
  CConnectDlg dlg(h.services);
  int result = 0;
  UiScript()
      .Do([&] { dlg.OnConnect(); })
      .Do([&] {
        const auto boxes = h.boxes.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text, "打开串口失败！");
        EXPECT_EQ(boxes[0].caption, "错误");
        EXPECT_EQ(boxes[1].text, "串口打开失败");
        EXPECT_EQ(boxes[1].caption, "");
        EXPECT_TRUE(dlg.IsRunning());
        dlg.Control(connect_ids::PortList)->Select(1);
        dlg.OnPortSelected();
        dlg.OnConnect();
      })
      .RunDuring([&] { result = dlg.RunModal(); });
  EXPECT_EQ(result, kIdOk);
  EXPECT_TRUE(h.link.IsOpen());
  EXPECT_EQ(h.boxes.Count(), 2u);
}

// The operator picks a port with the keyboard and presses Enter: that is "连接",
// never a bare OK. A port that cannot be opened keeps the dialog; the next
// Enter on a good port opens it and the main window starts the link.
TEST(ConnectDialog, EnterConnectsLikeTheConnectButton) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  UiHarness h;
  h.ports = {AbsentPortName(), sim.LinkPath()};
  CVarnelDlg dlg(h.services);
  auto pressEnterOnPortList = [] { PressKey(*Connect()->Control(connect_ids::PortList), Key::Enter); };
  bool ok = UiScript()
                .When("connect dialog", [] { return Connect() != nullptr; }, pressEnterOnPortList)
                .Do([&] {
                  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{"打开串口失败！", "串口打开失败"}));
                  ASSERT_NE(Connect(), nullptr) << "Enter ended the dialog without a port";
                  EXPECT_FALSE(h.link.IsOpen());
                  PressKey(*Connect()->Control(connect_ids::PortList), Key::Down);  // the second port
                  pressEnterOnPortList();
                })
                .WaitFor("link start timer", [&] { return dlg.Connected() && Connect() == nullptr; })
                .Do([&] { dlg.EndDialog(kIdCancel); })
                .RunDuring([&] { dlg.RunModal(); });
  EXPECT_TRUE(ok);
  EXPECT_TRUE(h.link.IsOpen());
  EXPECT_EQ(h.boxes.Count(), 2u);
}

TEST(ConnectDialog, NoPortsGivesAnEmptyListAndBothMessages) {
  UiHarness h;
  CConnectDlg dlg(h.services);
  UiScript()
      .Do([&] {
        EXPECT_EQ(dlg.Control(connect_ids::PortList)->ItemCount(), 0);
        EXPECT_EQ(dlg.PortName(), "");
        dlg.OnConnect();
        EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{"打开串口失败！", "串口打开失败"}));
        dlg.EndDialog(kIdCancel);
      })
      .RunDuring([&] { dlg.RunModal(); });
}

TEST(ConnectDialog, OpeningTheListScansAgainAndKeepsTheChoice) {
  UiHarness h;
  const std::string port0 = AbsentPortName(1), port1 = AbsentPortName(2), port2 = AbsentPortName(3);
  h.ports = {port1, port2};
  CConnectDlg dlg(h.services);
  UiScript()
      .Do([&] {
        auto* list = dlg.Control(connect_ids::PortList);
        list->Select(1);
        dlg.OnPortSelected();
        h.ports = {port0, port1, port2};  // an adapter plugged in
        dlg.RescanPorts();
        ASSERT_EQ(list->ItemCount(), 3);
        EXPECT_EQ(list->ItemText(list->SelectedIndex()), port2);
        EXPECT_EQ(dlg.PortName(), port2);

        h.ports = {port0};  // the chosen one was pulled out
        dlg.RescanPorts();
        EXPECT_EQ(list->ItemCount(), 1);
        EXPECT_EQ(dlg.PortName(), port0);
        dlg.EndDialog(kIdCancel);
      })
      .RunDuring([&] { dlg.RunModal(); });
}

TEST(ConnectDialog, MissingPortListIsReported) {
  UiHarness h;
  h.ports = {AbsentPortName()};
  DialogTemplate t = ConnectDialogTemplate();
  RemoveControl(t, connect_ids::PortList);
  CConnectDlg dlg(h.services, t);
  UiScript().Do([&] { dlg.EndDialog(kIdCancel); }).RunDuring([&] { dlg.RunModal(); });
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{"ComboBox对象不存在"}));
  EXPECT_EQ(dlg.PortName(), "");
}

}  // namespace
}  // namespace varnel
