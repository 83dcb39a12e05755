// varnel.exe's own application object and dialogs under wine, against the
// simulated sensor on a COM port that the runner (tests/support/wine_sim_run.py)
// maps in wine's registry: the port is picked from the system's serial-port
// list, the identity and the settings appear, a setting is written, a 64 KiB
// image goes over a wire paced at 115200 Bd, and the sensor is unplugged and
// comes back. The operator's input goes to the windows as input messages; the
// message boxes are recorded and answered at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/PortEnumeration.h"
#include "tests/support/SimRelay.h"
#include "tests/support/UiHarness.h"
#include "tests/ui_firmware/FirmwareTestSupport.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"
#include "ui/VarnelApp.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ActiveModal;
using test::SimRelay;
using test::UiHarness;
using test::UiScript;

const std::string kFirmwareLine = "固件版本 : V2.7.1\r\n";
const std::string kIdentity = kFirmwareLine + "硬件版本 : V1.0.4\r\n设备 S/N : 25-11-W42\r\n";
constexpr std::uint8_t kCardRead = 0x30;

class WineApp : public ::testing::Test {
 protected:
  void SetUp() override {
    port = SimRelay::Port();
    if (port.empty()) GTEST_SKIP() << "needs the simulator on a mapped COM port (tests/support/wine_sim_run.py)";
    // Every test starts from the same sensor, whatever the one before left behind.
    for (const std::string command : {"pace 115200", "firmware 2.7.1", "hardware 1.0.4", "sn 25 11 W42",
                                      "set addr 42", "set baud 5", "set canid 0x100", "set frame 0",
                                      "set rate 5"})
      ASSERT_EQ(sim.Ask(command), "ok " + command);
    cardReadsBefore = sim.RequestsOf(kCardRead);  // the simulator lives as long as the program
  }

  std::string Text(int id) const { return dlg->Control(id)->Text(); }
  // What a drop-down list shows: the text of its selected entry.
  std::string Shown(int id) const {
    const DialogControl* list = dlg->Control(id);
    return list->ItemText(list->SelectedIndex());
  }
  // The main dialog once the connect dialog is gone.
  bool Connecting() { return (dlg = ActiveModal<CVarnelDlg>()) != nullptr; }
  // The identity and the settings as the main dialog shows them (no reply
  // reports the output mode: its list shows its first entry).
  std::vector<std::string> Showing() const {
    return {Text(main_ids::EditDeviceInfo), Text(main_ids::EditSerialNodeAddr), Text(main_ids::EditCanNodeAddr),
            Shown(main_ids::ComSerialBaud), Shown(main_ids::ComCanRate),       Shown(main_ids::ComSetOutMode)};
  }
  static std::vector<std::string> Expected() { return {kIdentity, "0x2A", "0x100", "9600", "125Kbps", "被动查询"}; }
  std::size_t BoxesWith(const std::string& text) const {
    const auto texts = h.boxes.Texts();
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
  }

  // The operator picks the mapped port in the connect dialog (its list read
  // from the system) and presses Enter; the main dialog shows the identity and
  // the settings within 2 s of that, then the start-up's second identity
  // reading runs out, so no reply arrives behind the test's back.
  UiScript Connected() {
    UiScript script;
    script
        .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
              [this] {
                CConnectDlg* connect = ActiveModal<CConnectDlg>();
                DialogControl& list = *connect->Control(connect_ids::PortList);
                int index = -1;
                for (int i = 0; i < list.ItemCount(); ++i)
                  if (list.ItemText(i) == port) index = i;
                ASSERT_GE(index, 0) << "the connect dialog does not list " << port;
                test::PickItem(list, index);
                ASSERT_EQ(connect->PortName(), port);
                pressed = std::chrono::steady_clock::now();
                test::PressKey(*connect, test::Key::Enter);
              })
        // A deadline, not a pause: the steps go on as soon as all of it is shown,
        // and the one after reports what was shown when it was not.
        .Settle("identity and settings shown", [this] { return Connecting() && Showing() == Expected(); }, 2s)
        // Without it the steps end here: those below act on the main dialog.
        .WaitFor("main dialog", [this] { return Connecting(); }, 0ms)
        .Do([this] {
          EXPECT_EQ(Showing(), Expected());
          const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pressed);
          ::testing::Test::RecordProperty("enter_to_identity_and_settings_ms", static_cast<int>(took.count()));
          std::printf("identity and settings shown %lld ms after Enter\n", static_cast<long long>(took.count()));
        })
        .WaitFor("second identity query", [this] { return dlg->Watch().IdentityRequeried(); }, 15s)
        .WaitFor("second chain done", [this] { return sim.RequestsOf(kCardRead) >= cardReadsBefore + 2; }, 15s)
        .WaitFor("identity again", [this] { return Text(main_ids::EditDeviceInfo) == kIdentity; }, 5s);
    return script;
  }

  // Runs the application as varnel.exe does, with the script's steps; the last
  // step closes the main dialog. Answers whether every step ran.
  bool RunApplication(UiScript& script) {
    script.Do([this] { dlg->EndDialog(kIdCancel); });
    CVarnelApp application(services, nullptr);
    return script.RunDuring([&] { application.InitInstance(); });
  }

  SimRelay sim;
  std::string port;
  UiHarness h;
  // The application's own services: the port list is the system's.
  AppServices services{h.link, h.session, h.windows, h.op, h.ledger, [] { return EnumerateSerialPorts({}); }};
  CVarnelDlg* dlg = nullptr;  // the running main dialog, once connected
  std::uint64_t cardReadsBefore = 0;
  std::chrono::steady_clock::time_point pressed;  // when the operator pressed Enter in the connect dialog
};

TEST_F(WineApp, ConnectsThroughTheListedPortShowsTheSensorAndWritesASetting) {
  UiScript script = Connected();
  script
      .Do([this] {
        DialogControl& edit = *dlg->Control(main_ids::EditSerialNodeAddr);
        edit.SetText("");
        test::TypeText(edit, "0x33");
        test::Click(*dlg->Control(main_ids::SetSerialNodeAddr));
      })
      .WaitFor("address 0x33 on the sensor", [this] { return sim.State()["addr"] == "51"; })
      .WaitFor("success box", [this] { return BoxesWith("设置成功") == 1; });
  ASSERT_TRUE(RunApplication(script));
  EXPECT_EQ(h.boxes.Texts(), std::vector<std::string>{"设置成功"});
  EXPECT_FALSE(h.link.IsOpen()) << "the port stayed open after the application ended";
}

TEST_F(WineApp, PacedImageGoesThroughTheProgressWindowAndArrivesIntact) {
  const auto image = test::TestImage(64 * 1024, 20261207);
  const fs::path file = fs::temp_directory_path() / ("varnel-wine-app-" + std::to_string(std::random_device{}())) /
                        "Rfid_v2.bin";
  test::WriteFile(file, image);
  // Written by the simulator (a Linux path), read here through wine's Z: drive.
  const std::string unixOut = "/tmp/varnel-wine-app-" + std::to_string(std::random_device{}()) + ".bin";
  ASSERT_EQ(sim.Ask("image-out " + unixOut), "ok image-out " + unixOut);

  bool progressShown = false, downloadDone = false;
  UiScript script = Connected();
  script
      .Do([&] {
        const std::u8string path = file.u8string();
        dlg->Control(main_ids::FirmwarePath)->SetText(std::string(path.begin(), path.end()));
        // Queued, so the steps keep running inside the progress window's own loop.
        test::RunSoon([&] {
          test::Click(*dlg->Control(main_ids::Download));
          downloadDone = true;
        });
      })
      .WaitFor("progress window", [&] { return progressShown = ActiveModal<CProgressDlg>() != nullptr; })
      .WaitFor("download over", [&] { return downloadDone; }, 90s)
      .WaitFor("image checked by the sensor", [this, &image] {
        return sim.State()["image"] == std::to_string(image.size());
      });
  const bool ran = RunApplication(script);
  fs::remove_all(file.parent_path());
  ASSERT_TRUE(ran);
  EXPECT_TRUE(progressShown);
  const auto boxes = h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "no box" : boxes.back().text);
  EXPECT_EQ(boxes[0].text, test::kSucceeded);
  EXPECT_EQ(boxes[0].caption, "提示");

  std::string winOut = "Z:" + unixOut;
  std::replace(winOut.begin(), winOut.end(), '/', '\\');
  const auto received = test::ReadFile(winOut);
  fs::remove(winOut);
  EXPECT_TRUE(received == image) << "received " << received.size() << " bytes, not the image sent";
  EXPECT_EQ(sim.Ask("image-out off"), "ok image-out off");
}

TEST_F(WineApp, SensorUnpluggedIsReportedAndTheIdentityReturnsAfterTheReplug) {
  auto info = [this] { return Text(main_ids::EditDeviceInfo); };
  std::chrono::steady_clock::time_point replugAnswered;
  UiScript script = Connected();
  script.Do([this] { ASSERT_EQ(sim.Ask("unplug"), "ok unplug"); })
      .WaitFor("port lost", [this] { return !h.link.IsOpen(); })
      .WaitFor("disconnect text", [&] { return info() == kDisconnectedText; }, 15s)
      .Do([&] {
        ASSERT_EQ(sim.Ask("replug"), "ok replug");
        replugAnswered = std::chrono::steady_clock::now();
      })
      .WaitFor("firmware line again", [&] { return info().rfind(kFirmwareLine, 0) == 0; }, 15s)
      .Do([&] {
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                replugAnswered);
        ::testing::Test::RecordProperty("replug_to_firmware_line_ms", static_cast<int>(took.count()));
        std::printf("firmware line shown %lld ms after the replug\n", static_cast<long long>(took.count()));
      })
      .WaitFor("whole identity again", [&] { return info() == kIdentity; })
      .Do([this] { EXPECT_TRUE(h.link.IsOpen()); });
  EXPECT_TRUE(RunApplication(script));
  EXPECT_EQ(h.boxes.Count(), 0u) << (h.boxes.Count() ? h.boxes.Texts().front() : "");
}

}  // namespace
}  // namespace varnel
