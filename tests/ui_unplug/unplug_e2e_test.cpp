// The adapter is pulled out and plugged back while the main dialog runs: the
// dialog reports the silent sensor, the reader waits without burning processor
// time, and once a device answers to the port's name again the identity comes
// back by itself, with no restart and no message box.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "tests/support/ThreadCpu.h"
#include "tests/support/SimProcess.h"
#include "tests/support/UiHarness.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ActiveModal;
using test::SimProcess;
using test::UiHarness;
using test::UiScript;

const std::string kFirmwareLine = "固件版本 : V2.7.1\r\n";
const std::string kIdentity = kFirmwareLine + "硬件版本 : V1.0.4\r\n设备 S/N : 25-11-U42\r\n";
const std::string kSilentText = "Device disconnected\r\nPlease try to reset the device.\r\n";

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(AdapterUnplugged, SilenceIsReportedAndTheIdentityReturnsAfterTheReplug) {
  SimProcess sim({"--firmware", "2.7.1", "--hardware", "1.0.4", "--sn", "25 11 U42"});
  ASSERT_TRUE(sim.Started());
  UiHarness h;
  h.ports = {sim.LinkPath()};
  CVarnelDlg dlg(h.services);
  auto info = [&] { return dlg.Control(main_ids::EditDeviceInfo)->Text(); };

  long readerTid = 0;
  std::optional<std::chrono::milliseconds> cpuBefore;
  Clock::time_point windowStart, replugAnswered;
  std::size_t linesBeforeReplug = 0;

  const bool ok =
      UiScript()
          .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
                [] { ActiveModal<CConnectDlg>()->OnConnect(); })
          .WaitFor("identity lines", [&] { return info() == kIdentity; }, 15s)
          // The identity is read twice at start-up; let the second reading finish
          // too (its last request, the card read, has reached the sensor).
          .WaitFor("second identity query", [&] { return dlg.Watch().IdentityRequeried(); }, 15s)
          .WaitFor("second chain done",
                   [&] {
                     const std::string reads = sim.Stats()["card-reads"];
                     return !reads.empty() && std::stoull(reads) >= 2;
                   },
                   15s)
          .WaitFor("identity again", [&] { return info() == kIdentity; })
          .Do([&] {
            readerTid = h.link.ReaderSystemThreadId();
            ASSERT_NE(readerTid, 0);
            sim.Command("unplug");
          })
          .WaitFor("port lost", [&] { return !h.link.IsOpen(); })
          .WaitFor("disconnect text", [&] { return info() == kSilentText; }, 15s)
          .Do([&] {
            cpuBefore = test::ThreadCpuTime(readerTid);
            windowStart = Clock::now();
          })
          // The measuring window: a stretch of time with the port gone, keep-alives
          // still going out from the link watch.
          .WaitFor("a second without the port", [&] { return Clock::now() - windowStart >= 1s; })
          .Do([&] {
            const auto cpuAfter = test::ThreadCpuTime(readerTid);
            ASSERT_TRUE(cpuBefore && cpuAfter) << "the reader thread ended while the port was gone";
            const double share = test::CpuShare(*cpuBefore, *cpuAfter, Clock::now() - windowStart);
            ::testing::Test::RecordProperty("reader_cpu_percent_while_gone", std::to_string(share * 100));
            std::printf("reader CPU while the port is gone: %.2f %% of a core\n", share * 100);
            EXPECT_LT(share, 0.02);
            EXPECT_EQ(info(), kSilentText);
            linesBeforeReplug = sim.Lines().size();
            sim.Command("replug");
          })
          .WaitFor("replug answered",
                   [&] {
                     const auto lines = sim.Lines();
                     for (std::size_t i = linesBeforeReplug; i < lines.size(); ++i) {
                       if (lines[i] == "ok replug") {
                         replugAnswered = Clock::now();
                         return true;
                       }
                     }
                     return false;
                   })
          // Goal: within 3 s. The deadline leaves room for a loaded machine; the
          // measured time is recorded below.
          .WaitFor("firmware line again", [&] { return StartsWith(info(), kFirmwareLine); }, 15s)
          .Do([&] {
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - replugAnswered);
            ::testing::Test::RecordProperty("replug_to_firmware_line_ms", static_cast<int>(took.count()));
            std::printf("firmware line shown %lld ms after the replug\n", static_cast<long long>(took.count()));
          })
          .WaitFor("whole identity again", [&] { return info() == kIdentity; })
          .Do([&] {
            EXPECT_TRUE(h.link.IsOpen());
            dlg.EndDialog(kIdCancel);
          })
          .RunDuring([&] { dlg.RunModal(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(h.boxes.Count(), 0u) << (h.boxes.Count() ? h.boxes.Texts().front() : "");
}

}  // namespace
}  // namespace varnel
