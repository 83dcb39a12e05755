// Card search against the simulated sensor: readings reach the card box, the
// poll keeps one read outstanding, a silent sensor ends the search (a status
// box left open does not), and a search paused from elsewhere takes two
// presses to poll again.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/ui_settings/SettingsTestSupport.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::SimDialog;
using test::Tell;
using test::UiScript;
using namespace main_ids;

const std::string kStart = "开始寻卡";
const std::string kStop = "停止寻卡";
const std::string kNoCard = "无卡";

// The operator closes the window with the search still running. A card reply
// already on its way then finds no window, which is reported once per reply
// ("找不到CVarnelDlg对象"); while the window was open there was no box at all.
void EndWhilePolling(SimDialog& f, std::vector<std::string>& boxesWhileOpen) {
  boxesWhileOpen = f.h.boxes.Texts();
  f.dlg.EndDialog(kIdCancel);
}

void ExpectNoBoxWhileOpen(const SimDialog& f, const std::vector<std::string>& boxesWhileOpen) {
  EXPECT_EQ(boxesWhileOpen, std::vector<std::string>{});
  const auto all = f.h.boxes.Texts();
  for (std::size_t i = boxesWhileOpen.size(); i < all.size(); ++i) EXPECT_EQ(all[i], "找不到CVarnelDlg对象");
}

UiScript& Connect(UiScript& script) {
  return script.When("connect dialog", [] { return test::ActiveModal<CConnectDlg>() != nullptr; },
                     [] { test::ActiveModal<CConnectDlg>()->OnConnect(); });
}

TEST(CardSearchEndToEnd, ShowsReadingsKeepsOneReadOutAndStopsWhenTheSensorFallsSilent) {
  SimDialog f({"--card", "0"});
  ASSERT_TRUE(f.sim.Started());
  std::uint64_t readsAtSilence = 0, readsAtStop = 0, keepAlivesAtStop = 0;
  std::chrono::steady_clock::time_point silencedAt;
  std::vector<std::string> boxesWhileOpen;
  UiScript script;
  Connect(script)
      // The start of the link ends its chain with one card read, search or not.
      .WaitFor("no card from the chain", [&] { return f.Text(EditCardId) == kNoCard; }, 15s)
      .Do([&] {
        EXPECT_EQ(f.Text(SearchCard), kStart);
        f.Click(SearchCard);
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EXPECT_TRUE(f.dlg.CardSearchActive());
      });
  Tell(script, f, "card 1 305").WaitFor("card number", [&] { return f.Text(EditCardId) == "305"; });
  Tell(script, f, "card 0").WaitFor("no card again", [&] { return f.Text(EditCardId) == kNoCard; });
  Tell(script, f, "silent on")
      .Do([&] {
        readsAtSilence = f.sim.RequestsOf(0x30);
        silencedAt = std::chrono::steady_clock::now();
      })
      // The link watch finds the silence at its second tick at the latest.
      // (Goal 2.5 s; the deadline is looser so a loaded machine does not fail it.)
      .WaitFor("search ended by the link watch", [&] { return f.Text(SearchCard) == kStart; }, 15s)
      .Do([&] {
        const auto noticed = std::chrono::steady_clock::now() - silencedAt;
        ::testing::Test::RecordProperty(
            "silence_noticed_ms",
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(noticed).count()));
        EXPECT_FALSE(f.dlg.CardSearchActive());
        EXPECT_FALSE(f.h.session.IsCardPollRunning());
        readsAtStop = f.sim.RequestsOf(0x30);
        keepAlivesAtStop = f.sim.RequestsOf(0x7F);
        // An ungated 100 ms poll would send ten reads a second into the silence.
        // The gate lets out the read after the last reply, one more each time a
        // read is given up for lost, and the last one freed by the stop.
        EXPECT_LE(readsAtStop - readsAtSilence, 2 + f.h.session.LostCardReads());
      })
      // The stop's tick sends its keep-alive after the read the stop freed, so once
      // a keep-alive of that tick or later has arrived, the count of reads is final.
      .WaitFor("the next keep-alive", [&] { return f.sim.RequestsOf(0x7F) > keepAlivesAtStop; })
      .Do([&] {
        readsAtStop = f.sim.RequestsOf(0x30);
        keepAlivesAtStop = f.sim.RequestsOf(0x7F);
      })
      .WaitFor("another keep-alive", [&] { return f.sim.RequestsOf(0x7F) > keepAlivesAtStop; })
      .Do([&] { EXPECT_EQ(f.sim.RequestsOf(0x30), readsAtStop) << "polled after the stop"; });
  Tell(script, f, "silent off")
      // The tick after the silence still misses the keep-alive it sent into it;
      // the search can start again once the link watch has the sensor back.
      .WaitFor("sensor back", [&] { return f.dlg.Watch().IdentityRequeried(); }, 15s)
      .Do([&] {
        f.Click(SearchCard);
        EXPECT_EQ(f.Text(SearchCard), kStop);
      })
      // The chain after the return reads one card itself; more are the poll's.
      .WaitFor("polling again", [&] { return f.sim.RequestsOf(0x30) >= readsAtStop + 3; })
      .Do([&] {
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EndWhilePolling(f, boxesWhileOpen);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  ExpectNoBoxWhileOpen(f, boxesWhileOpen);
}

TEST(CardSearchEndToEnd, SlowSensorGetsOneReadAtATime) {
  // Each reply is held back 350 ms: a poll that did not wait for the reply
  // would send three or four reads per reply.
  SimDialog f({"--card", "1 305", "--delay", "350"});
  ASSERT_TRUE(f.sim.Started());
  std::uint64_t readsAtStart = 0;
  std::size_t readingsSeen = 0;
  std::size_t cardReplies = 0;  // UI thread only
  f.dlg.OnMessage(WM_CARD_NUMBER, [&](Notification& n) {
    ++cardReplies;
    f.dlg.OnCardNumber(n.wParam, n.lParam);
  });
  UiScript script;
  Connect(script)
      .WaitFor("card from the chain", [&] { return f.Text(EditCardId) == "305"; }, 15s)
      // With replies this slow the second start-up chain overlaps the first; its
      // read, and its reply freeing the gate, must not fall among the poll's.
      .WaitFor("second chain's card reply", [&] { return cardReplies >= 2; }, 20s)
      .Do([&] {
        readsAtStart = f.sim.RequestsOf(0x30);
        f.Click(SearchCard);
      });
  // Watch the sensor's count of reads against the readings the window has shown.
  for (int i = 0; i < 4; ++i) {
    script.Do([&] { f.C(EditCardId)->SetText(""); })
        .WaitFor("a reading", [&] { return f.Text(EditCardId) == "305"; }, 10s)
        .Do([&] {
          ++readingsSeen;
          // Reads sent so far: one per reading shown, plus at most the one out now,
          // one whose reply has not been shown yet, and one per read given up.
          EXPECT_LE(f.sim.RequestsOf(0x30) - readsAtStart, readingsSeen + 2 + f.h.session.LostCardReads());
        });
  }
  script.Do([&] { f.dlg.EndDialog(kIdCancel); });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
}

// Holds the reader thread in the sensor's status box ("设置成功") until let go,
// as an operator who leaves the box open does. Lets go at the latest when destroyed.
class StatusBoxLeftOpen {
 public:
  explicit StatusBoxLeftOpen(RecordingPresenter& boxes) {
    boxes.SetObserver([this](const RecordedBox& box) {
      if (box.onMainThread || box.text != "设置成功") return;
      std::unique_lock lock(mutex_);
      open_ = true;
      closed_.wait(lock, [this] { return !open_; });
    });
  }
  ~StatusBoxLeftOpen() { Close(); }
  bool IsOpen() {
    std::lock_guard lock(mutex_);
    return open_;
  }
  void Close() {
    {
      std::lock_guard lock(mutex_);
      open_ = false;
    }
    closed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable closed_;
  bool open_ = false;  // guarded by mutex_
};

TEST(CardSearchEndToEnd, StatusBoxLeftOpenIsNoDisconnection) {
  SimDialog f({"--card", "1 305"});
  ASSERT_TRUE(f.sim.Started());
  StatusBoxLeftOpen statusBox(f.h.boxes);
  std::string identity;
  std::uint64_t keepAlivesAtOpen = 0;
  UiScript script;
  ConnectAndSettle(script, f)
      .WaitFor("card from the chain", [&] { return f.Text(EditCardId) == "305"; })
      .Do([&] {
        identity = f.Text(EditDeviceInfo);
        f.Click(SearchCard);
        f.h.boxes.QueueAnswer(MessageAnswer::Yes);  // "确认要将保存配置到传感器吗？"
        f.Click(SaveConfig);
      })
      .WaitFor("status box open", [&] { return statusBox.IsOpen(); })
      .Do([&] { keepAlivesAtOpen = f.sim.RequestsOf(0x7F); })
      // Three link-watch ticks with the box open; two were enough to report a loss.
      .WaitFor("three keep-alives", [&] { return f.sim.RequestsOf(0x7F) >= keepAlivesAtOpen + 3; }, 8s)
      .Do([&] {
        EXPECT_EQ(f.Text(EditDeviceInfo), identity);
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EXPECT_TRUE(f.h.session.IsCardPollRunning());
        statusBox.Close();
        f.C(EditCardId)->SetText("");
      })
      .WaitFor("a reading after the box", [&] { return f.Text(EditCardId) == "305"; }, 3s)
      .Do([&] {
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EXPECT_EQ(f.Text(EditDeviceInfo), identity);
        f.dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
}

TEST(CardSearchEndToEnd, PausedFromElsewhereTakesTwoPressesToPollAgain) {
  SimDialog f({"--card", "1 305"});
  ASSERT_TRUE(f.sim.Started());
  std::uint64_t readsAtPause = 0, keepAlivesAtPause = 0;
  std::vector<std::string> boxesWhileOpen;
  UiScript script;
  Connect(script)
      .WaitFor("card from the chain", [&] { return f.Text(EditCardId) == "305"; }, 15s)
      .Do([&] { f.Click(SearchCard); })
      .WaitFor("polling", [&] { return f.sim.RequestsOf(0x30) >= 4; })
      .Do([&] {
        // What the firmware download and the registration do before their dialogs.
        f.h.session.StopCardPoll();
        readsAtPause = f.sim.RequestsOf(0x30);
        keepAlivesAtPause = f.sim.RequestsOf(0x7F);
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EXPECT_TRUE(f.dlg.CardSearchActive());
      })
      .WaitFor("the next keep-alive", [&] { return f.sim.RequestsOf(0x7F) > keepAlivesAtPause; })
      .Do([&] {
        // At most the last read the stop let out, still on its way, and the read
        // of the start-up's second identity chain, which may fall here.
        EXPECT_LE(f.sim.RequestsOf(0x30), readsAtPause + 2);
        f.Click(SearchCard);
        EXPECT_EQ(f.Text(SearchCard), kStart);
        EXPECT_FALSE(f.h.session.IsCardPollRunning());
        f.Click(SearchCard);
        EXPECT_EQ(f.Text(SearchCard), kStop);
        EXPECT_TRUE(f.h.session.IsCardPollRunning());
      })
      .WaitFor("polling again", [&] { return f.sim.RequestsOf(0x30) >= readsAtPause + 5; })
      .Do([&] { EndWhilePolling(f, boxesWhileOpen); });
  EXPECT_TRUE(script.RunDuring([&] { f.dlg.RunModal(); }));
  ExpectNoBoxWhileOpen(f, boxesWhileOpen);
}

}  // namespace
}  // namespace varnel
