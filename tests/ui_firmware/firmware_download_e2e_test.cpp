// The download button and its progress window against the simulated sensor:
// a whole 600-byte download, the path and file checks that refuse before
// anything stops or goes out, a sensor that falls silent mid-way or is slow,
// the window closed once the whole image is out, and replies that answer no
// request.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <cstdlib>
#include <fstream>
#include <set>

#include "tests/support/SimPath.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TrafficCapture.h"
#include "tests/support/UiHarness.h"
#include "tests/ui_firmware/FirmwareTestSupport.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"
#include "ui/VarnelDlg.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ActiveModal;
using test::Key;
using test::PressCloseBox;
using test::PressKey;
using test::ProgressRecorder;
using test::SimProcess;
using test::StatCount;
using test::UiHarness;
using test::UiScript;

constexpr int kPathEdit = 1001;
constexpr int kDownloadButton = 1002;
constexpr int kSearchButton = 1003;
constexpr int kCardBox = 1000;
constexpr int kLinkWatchTimer = 0x1002;
constexpr std::uint8_t kKeepAlive = 0x7F;
constexpr std::uint8_t kCardRead = 0x30;

class FirmwareDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.Made());
    root = dir.Path();
  }

  // Starts the simulator with these options and the main dialog against it.
  void Start(std::vector<std::string> options = {}) {
    sim = std::make_unique<SimProcess>(std::move(options));
    ASSERT_TRUE(sim->Started());
    h.ports = {sim->LinkPath()};
    dlg = std::make_unique<CVarnelDlg>(h.services);
    // Short enough that no test waits for the operator's ten or thirty seconds.
    h.session.Firmware().SetTimeouts(timeouts);
    dlg->SetProgressDialogHook([this](CProgressDlg& progress) {
      ++progressWindows;
      current = &progress;
      seen.Attach(progress);
    });
  }

  // Connected, the start-up identity chains run out, the link watch ticking.
  UiScript Connected() {
    UiScript script;
    script.When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
                [] { ActiveModal<CConnectDlg>()->OnConnect(); })
        .WaitFor("second identity query", [this] { return dlg->Watch().IdentityRequeried(); }, 15s)
        // Its last request, the card read, has reached the sensor: no chain reply comes later.
        .WaitFor("second chain done", [this] { return sim->RequestsOf(kCardRead) >= 2; }, 15s)
        .WaitFor("link watch", [this] { return dlg->HasTimer(kLinkWatchTimer); });
    return script;
  }

  void Click(int id) { test::Click(*dlg->Control(id)); }
  // Queued, so the script's steps keep running inside the progress window's
  // own loop; downloadDone is set when the button's handler has returned.
  void ClickDownload(const fs::path& path) { ClickDownload(path.string()); }
  void ClickDownload(const std::string& path) {
    dlg->Control(kPathEdit)->SetText(path);
    downloadDone = false;
    test::RunSoon([this] {
      Click(kDownloadButton);
      downloadDone = true;
    });
  }
  CProgressDlg* Progress() { return ActiveModal<CProgressDlg>(); }
  std::string Counter() { return Progress() ? Progress()->Control(test::kCounterId)->Text() : std::string(); }

  test::TempFolder dir{"varnel-fw"};
  fs::path root;
  std::unique_ptr<SimProcess> sim;
  UiHarness h;
  std::unique_ptr<CVarnelDlg> dlg;
  ProgressRecorder seen;
  CProgressDlg* current = nullptr;  // valid only during a download
  int progressWindows = 0;
  bool downloadDone = false;
  FirmwareTransferTimeouts timeouts{5s, 10s};
};

TEST_F(FirmwareDownload, SixHundredBytesCountRefuseCloseKeysArriveAndLeaveTheSearchPaused) {
  const fs::path image = root / "fw" / "Rfid_v2.bin";
  const fs::path received = root / "received.bin";
  const auto bytes = test::TestImage(600);
  test::WriteFile(image, bytes);
  Start({"--image-out", test::SimSidePath(received)});

  std::uint64_t cardReadsAfter = 0, keepAlivesAfter = 0;
  const bool ok =
      Connected()
          .Do([&] { Click(kSearchButton); })
          .WaitFor("card poll running", [&] { return h.session.IsCardPollRunning(); })
          // Slow replies, so each count stays on screen long enough to act on
          // (and keep-alive replies still come well within a link-watch tick).
          .WaitFor("sensor slowed", [&] { return !sim->Ask("delay 500", "ok").empty(); })
          .Do([&] { ClickDownload(image); })
          .When("1/3", [&] { return Counter() == "1/3"; },
                [&] {
                  PressKey(*Progress(), Key::Escape);
                  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{test::kCannotLeave}));
                  EXPECT_NE(Progress(), nullptr) << "Escape closed the window at 1/3";
                })
          .When("2/3", [&] { return Counter() == "2/3"; },
                [&] {
                  PressKey(*Progress(), Key::Enter);
                  EXPECT_EQ(h.boxes.Count(), 2u);
                  EXPECT_NE(Progress(), nullptr) << "Enter closed the window at 2/3";
                })
          .WaitFor("download over", [&] { return downloadDone; }, 20s)
          .Do([&] {
            EXPECT_TRUE(dlg->HasTimer(kLinkWatchTimer));
            EXPECT_EQ(dlg->Control(kSearchButton)->Text(), "停止寻卡");
            EXPECT_TRUE(dlg->CardSearchActive());
            EXPECT_FALSE(h.session.IsCardPollRunning());
            const auto stats = sim->Stats();
            cardReadsAfter = SimProcess::RequestsOf(stats, kCardRead);
            keepAlivesAfter = SimProcess::RequestsOf(stats, kKeepAlive);
          })
          // Two keep-alives later: the link watch runs again and no card was asked for meanwhile.
          .WaitFor("link watch again", [&] { return sim->RequestsOf(kKeepAlive) >= keepAlivesAfter + 2; }, 15s)
          .Do([&] {
            EXPECT_EQ(sim->RequestsOf(kCardRead), cardReadsAfter);
            EXPECT_EQ(dlg->Control(kSearchButton)->Text(), "停止寻卡");
            dlg->EndDialog(kIdCancel);
          })
          .RunDuring([&] { dlg->RunModal(); });
  ASSERT_TRUE(ok);

  EXPECT_EQ(seen.counterTexts, (std::vector<std::string>{"0/0", "0/3", "1/3", "2/3", "3/3"}));
  EXPECT_EQ(seen.lastBarPosition, 3);
  const auto boxes = h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, test::kCannotLeave);
  EXPECT_EQ(boxes[0].caption, "警告");
  EXPECT_EQ(boxes[1].text, test::kCannotLeave);
  EXPECT_EQ(boxes[2].text, test::kSucceeded);
  EXPECT_EQ(boxes[2].caption, "提示");
  EXPECT_EQ(boxes[2].owner, MessageOwner::ActiveDialog);

  EXPECT_EQ(sim->State()["image"], "600");
  EXPECT_TRUE(sim->WaitForState([](auto s) { return s["ota"] == "idle"; }));
  EXPECT_EQ(test::ReadFile(received), bytes);
  const auto stats = sim->Stats();
  EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF0), 1u);
  EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF2), 3u);
  EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF4), 1u);
}

TEST_F(FirmwareDownload, PathsAndFilesAreRefusedBeforeAnythingStopsOrGoesOut) {
  test::WriteFile(root / "fw" / "rfid_v2.bin", test::TestImage(600));
  test::WriteFile(root / "fw" / "Rfid.BIN", test::TestImage(600));
  test::WriteFile(root / "fw" / "Rfid_empty.bin", {});
  fs::create_directories(root / "Rfid_fw.bin");
  {
    // One chunk more than the progress bar counts; sparse, so it costs nothing.
    std::ofstream(root / "Rfid_huge.bin").put('\0');
    fs::resize_file(root / "Rfid_huge.bin", 65536ull * 248);
  }
  struct Case {
    std::string path;
    std::string message;
  };
  const std::string r = root.string();
  std::vector<Case> cases = {
      {"", "不是有效的MCU固件"},
      {r + "/fw/rfid_v2.bin", "不是有效的MCU固件"},  // case-sensitive
      {r + "/fw/Rfid.BIN", "不是有效的MCU固件"},
      {r + "/fw/Rfid_v2.hex", "不是有效的MCU固件"},
      {r + "/fw/Rfid_missing.bin", "MCU固件不存在"},
      {r + "/fw/Rfid.bin.old", "MCU固件不存在"},  // passes the name test
      {r + "/Rfid/firmware.bin", "MCU固件不存在"},  // the folder satisfies the name test
      {r + "/Rfid_fw.bin", "所选路径是文件夹，不是MCU固件文件"},
      {r + "/fw/Rfid_empty.bin", "MCU固件文件为空"},
      {r + "/Rfid_huge.bin", "MCU固件文件过大，最大为16252680字节"},
  };
#ifndef _WIN32
  // A file that is there but has no size to announce. Windows keeps no pipe in a folder.
  ASSERT_EQ(mkfifo((root / "Rfid_pipe.bin").c_str(), 0600), 0);
  cases.push_back({r + "/Rfid_pipe.bin", "无法读取MCU固件文件"});
#endif
  Start();

  std::uint64_t cardReadsAtEnd = 0;
  UiScript script = Connected();
  script.Do([&] { Click(kSearchButton); })
      .WaitFor("card poll running", [&] { return h.session.IsCardPollRunning(); });
  std::size_t boxesBefore = 0;
  for (const Case& c : cases) {
    script
        .Do([&, c] {
          boxesBefore = h.boxes.Count();
          ClickDownload(c.path);
        })
        .WaitFor("refusal of " + c.path, [&] { return downloadDone; })
        .Do([&, c] {
          ASSERT_EQ(h.boxes.Count(), boxesBefore + 1) << c.path;
          const RecordedBox box = h.boxes.Boxes().back();
          EXPECT_EQ(box.text, c.message) << c.path;
          EXPECT_EQ(box.caption, "警告") << c.path;
          EXPECT_EQ(box.owner, MessageOwner::MainWindow) << c.path;
          EXPECT_TRUE(dlg->HasTimer(kLinkWatchTimer)) << c.path;
          EXPECT_TRUE(h.session.IsCardPollRunning()) << c.path;
        });
  }
  script.Do([&] { cardReadsAtEnd = sim->RequestsOf(kCardRead); })
      // The poll still runs: once a later card read has reached the sensor, so
      // would anything the refused clicks had sent.
      .WaitFor("a later card read", [&] { return sim->RequestsOf(kCardRead) > cardReadsAtEnd; })
      .Do([&] {
        const auto stats = sim->Stats();
        for (std::uint8_t code = 0xF0; code <= 0xF4; ++code) EXPECT_EQ(SimProcess::RequestsOf(stats, code), 0u) << int(code);
        EXPECT_EQ(dlg->Control(kSearchButton)->Text(), "停止寻卡");
        dlg->EndDialog(kIdCancel);
      });
  ASSERT_TRUE(script.RunDuring([&] { dlg->RunModal(); }));
  EXPECT_EQ(progressWindows, 0);
  EXPECT_FALSE(h.session.Firmware().State().Active());
  EXPECT_EQ(h.boxes.Count(), cases.size());
}

TEST_F(FirmwareDownload, SilentSensorMidWayLetsTheOperatorOutAndLaterRepliesSendNothing) {
  const fs::path image = root / "Rfid" / "firmware.bin";
  test::WriteFile(image, test::TestImage(600, 11));
  timeouts.stall = 1000ms;  // well above the 300 ms replies, well below the 2500 ms ones
  Start();

  std::uint64_t chunksAtExit = 0, keepAlivesAtExit = 0, cardReadsAtMarker = 0;
  const bool ok =
      Connected()
          .WaitFor("sensor slowed", [&] { return !sim->Ask("delay 300", "ok").empty(); })
          .Do([&] { ClickDownload(image); })
          // From here the sensor answers too late for the window, but it does answer.
          .When("1/3", [&] { return Counter() == "1/3"; }, [&] { sim->Command("delay 2500"); })
          .WaitFor("stalled", [&] { return Progress() && Progress()->Stalled(); })
          .Do([&] {
            EXPECT_EQ(Counter(), test::kStalledCounter);
            EXPECT_EQ(Progress()->Control(test::kRateLineId)->Text(), test::kStalledLine);
            PressKey(*Progress(), Key::Escape);
          })
          .WaitFor("window closed", [&] { return downloadDone; })
          .Do([&] {
            EXPECT_TRUE(dlg->HasTimer(kLinkWatchTimer));
            EXPECT_FALSE(h.session.Firmware().State().Active());
            const auto stats = sim->Stats();
            chunksAtExit = SimProcess::RequestsOf(stats, 0xF2);
            keepAlivesAtExit = SimProcess::RequestsOf(stats, kKeepAlive);
          })
          .WaitFor("keep-alives again", [&] { return sim->RequestsOf(kKeepAlive) > keepAlivesAtExit; })
          // A card read sent now is answered after the late chunk reply; once its
          // number shows, the late reply has been handled.
          .WaitFor("marker card set", [&] { return !sim->Ask("card 1 4242", "ok").empty(); })
          .Do([&] { h.session.SendCardRead(); })
          .WaitFor("marker answered", [&] { return dlg->Control(kCardBox)->Text() == "4242"; }, 15s)
          .Do([&] {
            cardReadsAtMarker = sim->RequestsOf(kCardRead);
            h.session.SendCardRead();  // and this one reaches the sensor after anything sent before it
          })
          .WaitFor("second marker read", [&] { return sim->RequestsOf(kCardRead) > cardReadsAtMarker; })
          .Do([&] {
            const auto stats = sim->Stats();
            EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF2), chunksAtExit);
            EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF3), 0u);
            EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF4), 0u);
            dlg->EndDialog(kIdCancel);
          })
          .RunDuring([&] { dlg->RunModal(); });
  ASSERT_TRUE(ok);
  EXPECT_GE(chunksAtExit, 1u);  // the late reply was owed for a chunk
  // Leaving a stalled window is not refused, and nothing claimed success.
  for (const std::string& text : h.boxes.Texts()) {
    EXPECT_NE(text, test::kCannotLeave);
    EXPECT_NE(text, test::kSucceeded);
  }
  EXPECT_EQ(sim->State()["image"], "0");
}

TEST_F(FirmwareDownload, ClosedAtNOfNTheSensorStillFinishesAndTheMainWindowGivesItsVerdict) {
  const fs::path image = root / "Rfid_v3.bin";
  const fs::path received = root / "received.bin";
  const auto bytes = test::TestImage(600, 5);
  test::WriteFile(image, bytes);
  timeouts.imageCheck = 1500ms;
  Start({"--image-out", test::SimSidePath(received)});

  struct Run {
    std::string name;
    std::function<void()> close;
    std::string otaStatus;  // what the sensor answers the firmware steps
    bool silent;            // the sensor falls silent as the window closes
    std::string verdict;    // the one box the transfer ends with
  };
  const std::vector<Run> runs = {
      {"Escape", [&] { PressKey(*Progress(), Key::Escape); }, "ota-status auto", false, test::kSucceeded},
      {"Enter", [&] { PressKey(*Progress(), Key::Enter); }, "ota-status 3", false,
       "固件下载失败（传感器回复：校验失败），请重新下载"},
      {"close box", [&] { PressCloseBox(*Progress()); }, "ota-status auto", true, "固件下载失败（传感器未应答），请重新下载"},
  };
  const std::string busy = "传感器正在校验上一次下载的固件，请等待结果后再下载";
  std::uint64_t endsBefore = 0, finishesBefore = 0;
  std::size_t boxesBefore = 0;
  UiScript script = Connected();
  for (const Run& run : runs) {
    script.Do([&, run] {
            ASSERT_FALSE(sim->Ask("delay 300", "ok").empty());  // each count stays on screen
            ASSERT_FALSE(sim->Ask(run.otaStatus, "ok").empty());
            fs::remove(received);
            const auto stats = sim->Stats();
            endsBefore = SimProcess::RequestsOf(stats, 0xF3);
            finishesBefore = SimProcess::RequestsOf(stats, 0xF4);
            boxesBefore = h.boxes.Count();
            ClickDownload(image);
          })
        // From here on the sensor is slower still, so the window is closed at
        // 3/3 well before its last answers come.
        .When("2/3 (" + run.name + ")", [&] { return Counter() == "2/3" || Counter() == "3/3"; },
              [&] { ASSERT_FALSE(sim->Ask("delay 800", "ok").empty()); })
        .When("3/3 (" + run.name + ")", [&] { return Counter() == "3/3"; },
              [&, run] {
                run.close();
                if (run.silent) {
                  ASSERT_FALSE(sim->Ask("silent on", "ok").empty());
                }
              })
        .WaitFor("window closed (" + run.name + ")", [&] { return downloadDone; })
        .Do([&, run] {
          // Until the verdict the link watch leaves the sensor to its image check.
          if (h.boxes.Count() == boxesBefore) {
            EXPECT_FALSE(dlg->HasTimer(kLinkWatchTimer)) << run.name;
          }
          // A download now would leave the one under way without its verdict.
          if (run.silent) ClickDownload(image);
        })
        .WaitFor("verdict (" + run.name + ")",
                 [&, run] {
                   const auto texts = h.boxes.Texts();
                   return std::find(texts.begin() + boxesBefore, texts.end(), run.verdict) != texts.end();
                 },
                 10s)
        .Do([&, run] {
          const RecordedBox box = h.boxes.Boxes().back();
          EXPECT_EQ(box.text, run.verdict);
          EXPECT_EQ(box.owner, MessageOwner::MainWindow) << run.name;
          EXPECT_EQ(box.caption, run.verdict == test::kSucceeded ? "提示" : "警告");
          EXPECT_TRUE(dlg->HasTimer(kLinkWatchTimer)) << run.name;
          EXPECT_FALSE(h.session.Firmware().State().Active());
          if (!run.silent) {
            const auto stats = sim->Stats();
            EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF3), endsBefore + 1) << run.name;
            EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF4), finishesBefore + 1) << run.name;
            EXPECT_EQ(test::ReadFile(received), bytes) << run.name;
          }
          ASSERT_FALSE(sim->Ask("silent off", "ok").empty());
        });
  }
  script.Do([&] { dlg->EndDialog(kIdCancel); });
  ASSERT_TRUE(script.RunDuring([&] { dlg->RunModal(); }));
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{runs[0].verdict, runs[1].verdict, busy, runs[2].verdict}));
  EXPECT_EQ(progressWindows, 3);
}

TEST_F(FirmwareDownload, RepliesThatAnswerNoRequestLeaveOneTrueVerdictPerDownload) {
  const fs::path image = root / "Rfid_v4.bin";
  const fs::path received = root / "received.bin";
  const auto bytes = test::TestImage(600, 9);
  test::WriteFile(image, bytes);
  Start({"--image-out", test::SimSidePath(received)});

  struct Fault {
    std::string command;
    std::string counter;  // the simulator's count of it, to see that it happened
  };
  const std::vector<Fault> faults = {
      {"duplicate 0xF2", "duplicated"},          // the first chunk's answer, twice
      {"unrequested 0xF0 0xF2", "unrequested"},  // a begin answer in the middle of the chunks
      {"unrequested 0xF3 0xF2", "unrequested"},  // an end-of-image answer before the image is whole
  };
  std::map<std::string, std::string> before;
  std::size_t boxesBefore = 0;
  UiScript script = Connected();
  for (const Fault& fault : faults) {
    script.Do([&, fault] {
            fs::remove(received);
            ASSERT_FALSE(sim->Ask(fault.command, "ok").empty());
            before = sim->Stats();
            boxesBefore = h.boxes.Count();
            ClickDownload(image);
          })
        .WaitFor("download over (" + fault.command + ")", [&] { return downloadDone; }, 10s)
        // Replies are handled in order: once two keep-alives have been answered,
        // whatever came before them has been handled too.
        .WaitFor("link watch again (" + fault.command + ")",
                 [&] { return sim->RequestsOf(kKeepAlive) >= SimProcess::RequestsOf(before, kKeepAlive) + 2; })
        .Do([&, fault] {
          const auto stats = sim->Stats();
          EXPECT_EQ(StatCount(stats, fault.counter), StatCount(before, fault.counter) + 1) << fault.command;
          const auto texts = h.boxes.Texts();
          EXPECT_EQ(std::vector<std::string>(texts.begin() + boxesBefore, texts.end()),
                    std::vector<std::string>{test::kSucceeded})
              << fault.command;
          // The success is the sensor's: it checked and finished this image once.
          EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF3), SimProcess::RequestsOf(before, 0xF3) + 1) << fault.command;
          EXPECT_EQ(SimProcess::RequestsOf(stats, 0xF4), SimProcess::RequestsOf(before, 0xF4) + 1) << fault.command;
          EXPECT_EQ(test::ReadFile(received), bytes) << fault.command;
        });
  }
  script.Do([&] { dlg->EndDialog(kIdCancel); });
  ASSERT_TRUE(script.RunDuring([&] { dlg->RunModal(); }));
}

TEST_F(FirmwareDownload, ASlowStepIsShownAsAStallYetTheDownloadEndsOnItsOwn) {
  const fs::path image = root / "Rfid_slow.bin";
  test::WriteFile(image, test::TestImage(300, 3));
  timeouts.stall = 300ms;
  Start();

  const bool ok = Connected()
                      // Every step, the erase after the image description among them,
                      // takes longer than the stall limit.
                      .WaitFor("sensor slowed", [&] { return !sim->Ask("delay 700", "ok").empty(); })
                      .Do([&] { ClickDownload(image); })
                      .WaitFor("stall shown", [&] { return Progress() && Progress()->Stalled(); })
                      .WaitFor("download over", [&] { return downloadDone; }, 15s)
                      .Do([&] { dlg->EndDialog(kIdCancel); })
                      .RunDuring([&] { dlg->RunModal(); });
  ASSERT_TRUE(ok);
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{test::kSucceeded}));
  EXPECT_EQ(sim->RequestsOf(0xF4), 1u);
}

// The frames one scripted session puts on the wire, as the link's trace shows
// them: "[HEX-8] (len: N)" and then N bytes, eight to a row.
std::vector<std::string> SentFrames(const std::string& trace) {
  std::vector<std::string> frames;
  const std::string header = "[Desc ] SendData\r\n";
  for (auto at = trace.find(header); at != std::string::npos; at = trace.find(header, at + 1)) {
    const auto hex = trace.find("[HEX-8] (len: ", at);
    if (hex == std::string::npos) break;
    const int length = std::atoi(trace.c_str() + hex + 14);
    std::string frame;
    auto row = trace.find("\r\n", hex) + 2;
    for (int done = 0; done < length; done += 8) {
      const int inRow = std::min(8, length - done);
      frame += (frame.empty() ? "" : " ") + trace.substr(row, static_cast<std::size_t>(inRow) * 3 - 1);
      row = trace.find("\r\n", row) + 2;
    }
    frames.push_back(frame);
  }
  return frames;
}

// Keep-alives come with the link watch's clock and card reads with the poll's,
// so their number is the clock's: every keep-alive must be the same frame and is
// then left out, and a run of card reads counts once. Everything else is exact.
std::vector<std::string> WithoutTheClock(const std::vector<std::string>& frames, std::set<std::string>* keepAlives) {
  std::vector<std::string> kept;
  for (const std::string& frame : frames) {
    if (frame.compare(15, 2, "7F") == 0) {
      keepAlives->insert(frame);
      continue;
    }
    if (frame.compare(15, 2, "30") == 0 && !kept.empty() && kept.back() == frame) continue;
    kept.push_back(frame);
  }
  return kept;
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

TEST_F(FirmwareDownload, ASessionPutsTheRecordedBytesOnTheWire) {
  const fs::path image = root / "Rfid_trace.bin";
  test::WriteFile(image, test::TestImage(600));
  Start({"--command", "card 1 305"});
  test::TrafficCapture trace;
  h.link.SetTrafficLog(&trace);

  const bool ok =
      Connected()
          .Do([&] { Click(kSearchButton); })
          .WaitFor("a card read from the poll", [&] { return sim->RequestsOf(kCardRead) >= 3; })
          .Do([&] { Click(kSearchButton); })
          .WaitFor("search stopped", [&] { return !h.session.IsCardPollRunning(); })
          .Do([&] {
            dlg->Control(main_ids::EditSerialNodeAddr)->SetText("0x05");
            Click(main_ids::SetSerialNodeAddr);
          })
          .WaitFor("address written", [&] { return h.boxes.Texts() == std::vector<std::string>{"设置成功"}; })
          .Do([&] { ClickDownload(image); })
          .WaitFor("download over", [&] { return downloadDone; }, 20s)
          .Do([&] { dlg->EndDialog(kIdCancel); })
          .RunDuring([&] { dlg->RunModal(); });
  ASSERT_TRUE(ok);
  h.link.SetTrafficLog(nullptr);
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{"设置成功", test::kSucceeded}));

  std::set<std::string> keepAlives;
  const auto sent = WithoutTheClock(SentFrames(trace.Text()), &keepAlives);
  EXPECT_EQ(keepAlives, (std::set<std::string>{"BB BB BB BB 01 7F 01 00 01 A2 94"}));
  const auto recorded = ReadLines(VARNEL_RECORDED_SESSION);
  if (sent != recorded) {
    // What this build sent, in the recorded file's form, for whoever checks the difference.
    std::ofstream out("session_trace.actual.txt");
    for (const std::string& frame : sent) out << frame << '\n';
  }
  ASSERT_EQ(sent.size(), recorded.size()) << "this build's frames are in session_trace.actual.txt";
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], recorded[i]) << "frame " << i;
}

}  // namespace
}  // namespace varnel
