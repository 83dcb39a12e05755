// Connect to the simulated sensor and watch the link: the identity and the
// settings arrive by themselves, a silent sensor is reported, and its return
// re-reads everything with exactly one identity query.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "tests/support/SimProcess.h"
#include "tests/support/UiHarness.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::ActiveModal;
using test::SimProcess;
using test::UiHarness;
using test::UiScript;

const std::string kIdentity = "固件版本 : V1.2.3\r\n硬件版本 : V4.5.6\r\n设备 S/N : 24-03-A17\r\n";

void RecordMs(const char* key, std::chrono::steady_clock::time_point since) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since);
  ::testing::Test::RecordProperty(key, static_cast<int>(ms.count()));
  std::printf("%s = %lld\n", key, static_cast<long long>(ms.count()));
}

TEST(LinkWatchEndToEnd, IdentitySettingsSilenceAndReturn) {
  SimProcess sim({"--firmware", "1.2.3", "--hardware", "4.5.6", "--sn", "24 3 A17", "-c", "set addr 33",
                  "-c", "set baud 5", "-c", "set canid 1440", "-c", "set frame 0", "-c", "set rate 3"});
  ASSERT_TRUE(sim.Started());
  UiHarness h;
  h.ports = {sim.LinkPath()};
  CVarnelDlg dlg(h.services);
  auto info = [&] { return dlg.Control(main_ids::EditDeviceInfo)->Text(); };
  auto settingsShown = [&] {
    return dlg.Control(main_ids::EditSerialNodeAddr)->Text() == "0x21" &&
           dlg.Control(main_ids::ComSerialBaud)->SelectedIndex() == 4 &&
           dlg.Control(main_ids::EditCanNodeAddr)->Text() == "0x5A0" &&
           dlg.Control(main_ids::ComCanFrameType)->SelectedIndex() == 0 &&
           dlg.Control(main_ids::ComCanRate)->SelectedIndex() == 2;
  };

  std::chrono::steady_clock::time_point connectedAt, silencedAt, answeringAt;
  std::uint64_t identityQueriesBefore = 0, keepAlivesAtRefill = 0;

  bool ok =
      UiScript()
          .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
                [&] {
                  connectedAt = std::chrono::steady_clock::now();
                  ActiveModal<CConnectDlg>()->OnConnect();
                })
          .WaitFor("identity lines", [&] { return info() == kIdentity; }, 15s)
          .Do([&] {
            // The goal is 2 s; the deadline above is looser so a loaded machine does not fail it.
            RecordMs("identity_after_connect_ms", connectedAt);
          })
          // The settings replies come after the identity lines in the same chain.
          .Settle("settings shown", [&] { return settingsShown(); }, 15s)
          .Do([&] {
            EXPECT_EQ(dlg.Control(main_ids::EditSerialNodeAddr)->Text(), "0x21");
            EXPECT_EQ(dlg.Control(main_ids::ComSerialBaud)->SelectedIndex(), 4);
            EXPECT_EQ(dlg.Control(main_ids::EditCanNodeAddr)->Text(), "0x5A0");
            EXPECT_EQ(dlg.Control(main_ids::ComCanFrameType)->SelectedIndex(), 0);
            EXPECT_EQ(dlg.Control(main_ids::ComCanRate)->SelectedIndex(), 2);
            EXPECT_FALSE(dlg.Control(main_ids::ProductionRegister)->IsShown());
          })
          // The chain runs twice at start-up; let the second one finish first
          // (its last request, the card read, has reached the sensor).
          .WaitFor("second identity query", [&] { return dlg.Watch().IdentityRequeried(); }, 15s)
          .WaitFor("second chain done", [&] { return sim.RequestsOf(0x30) >= 2; }, 15s)
          .WaitFor("identity again", [&] { return info() == kIdentity; })
          .Do([&] {
            sim.Command("silent on");
            silencedAt = std::chrono::steady_clock::now();
          })
          .WaitFor("disconnect text", [&] { return info() == kDisconnectedText; }, 15s)
          .Do([&] {
            RecordMs("silence_reported_ms", silencedAt);  // goal 2.5 s: two link-watch ticks
            identityQueriesBefore = sim.RequestsOf(0x01);
            sim.Command("silent off");
            answeringAt = std::chrono::steady_clock::now();
          })
          .WaitFor("identity after the return", [&] { return info() == kIdentity; }, 15s)
          .Do([&] { keepAlivesAtRefill = sim.RequestsOf(0x7F); })
          .WaitFor("two more keep-alives", [&] { return sim.RequestsOf(0x7F) >= keepAlivesAtRefill + 2; }, 15s)
          .Do([&] {
            EXPECT_EQ(sim.RequestsOf(0x01), identityQueriesBefore + 1);
            dlg.EndDialog(kIdCancel);
          })
          .RunDuring([&] { dlg.RunModal(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(h.boxes.Count(), 0u) << (h.boxes.Count() ? h.boxes.Texts().front() : "");
}

}  // namespace
}  // namespace varnel
