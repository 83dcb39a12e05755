// The progress window on its own: notifications posted to it by its caption,
// the close commands in each state, what it shows of a silent sensor, and
// broken templates. The transfer's state is a stand-in the tests set.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/support/UiHarness.h"
#include "tests/ui_firmware/FirmwareTestSupport.h"
#include "ui/DialogTemplates.h"
#include "ui/ProgressDlg.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using test::Key;
using test::PressCloseBox;
using test::PressKey;
using test::ProgressRecorder;
using test::UiHarness;
using test::UiScript;

class ProgressDialog : public ::testing::Test {
 protected:
  UiHarness h;
  int starts = 0;
  int abandons = 0;
  int handOvers = 0;
  int looks = 0;  // times the window looked at the transfer
  FirmwareLoadResult startAnswer = FirmwareLoadResult::Ok;
  FirmwareTransferState transfer;  // what the window sees when it looks

  FirmwareDownloadHooks Hooks(std::uint32_t imageSize = 600) {
    FirmwareDownloadHooks hooks;
    hooks.imageSize = imageSize;
    hooks.start = [this] {
      ++starts;
      return startAnswer;
    };
    hooks.abandon = [this] { ++abandons; };
    hooks.status = [this] {
      ++looks;
      return transfer;
    };
    hooks.handOver = [this] {
      ++handOvers;
      return std::optional<FirmwareVerdict>();
    };
    transfer.stage = OtaStage::Chunk;
    return hooks;
  }
  // Through the same path the transfer uses: found by caption, queued, handled in order.
  bool Post(std::uint32_t wParam, std::uint32_t lParam = 0) {
    return h.poster.Post(test::kProgressCaption, Notification{test::kProgressMessage, wParam, lParam, {}});
  }
  static std::string Text(CProgressDlg& dlg, int id) { return dlg.Control(id)->Text(); }
};

TEST_F(ProgressDialog, AtNOfNEveryCloseLetsTheTransferGoOnInsteadOfGivingItUp) {
  const std::vector<std::function<void(CProgressDlg&)>> closes = {
      [](CProgressDlg& d) { PressKey(d, Key::Escape); },
      [](CProgressDlg& d) { PressKey(d, Key::Enter); },
      [](CProgressDlg& d) { PressCloseBox(d); },
  };
  for (const auto& closeIt : closes) {
    CProgressDlg dlg(h.windows, h.op, Hooks());
    const bool ok =
        UiScript()
            .When("window findable and transfer started",
                  [&] { return h.windows.Has("固件下载进度") && starts > 0; },
                  [&] {
                    ASSERT_TRUE(Post(0, 3));
                    for (int i = 0; i < 3; ++i) Post(1);
                  })
            .When("3/3", [&] { return Text(dlg, test::kCounterId) == "3/3"; }, [&] { closeIt(dlg); })
            .RunDuring([&] { dlg.RunModal(); });
    ASSERT_TRUE(ok);
    EXPECT_FALSE(h.windows.Has("固件下载进度"));
    EXPECT_TRUE(dlg.HandedOver());
    EXPECT_EQ(dlg.Control(test::kBarId)->Position(), 3);
  }
  // The end-of-image and finish requests are still owed: nothing was given up.
  EXPECT_EQ(abandons, 0);
  EXPECT_EQ(handOvers, 3);
  EXPECT_EQ(h.boxes.Count(), 0u);
}

TEST_F(ProgressDialog, DoneShowsTheSuccessMessageAndEndsWithoutAbandoning) {
  CProgressDlg dlg(h.windows, h.op, Hooks(100));
  int result = 0;
  const bool ok = UiScript()
                      .When("started", [&] { return starts == 1; },
                            [&] {
                              Post(0, 1);
                              Post(1);
                              Post(2);
                            })
                      .RunDuring([&] { result = dlg.RunModal(); });
  ASSERT_TRUE(ok);
  EXPECT_EQ(result, kIdCancel);
  ASSERT_EQ(h.boxes.Count(), 1u);
  const auto box = h.boxes.Boxes()[0];
  EXPECT_EQ(box.text, test::kSucceeded);
  EXPECT_EQ(box.caption, "提示");
  EXPECT_EQ(box.owner, MessageOwner::ActiveDialog);
  EXPECT_TRUE(dlg.Finished());
  EXPECT_EQ(abandons, 0);
}

TEST_F(ProgressDialog, ImageRefusedByTheSensorIsReportedAsAFailure) {
  CProgressDlg dlg(h.windows, h.op, Hooks(100));
  const bool ok = UiScript()
                      .When("started", [&] { return starts == 1; },
                            [&] {
                              Post(0, 1);
                              Post(1);
                              Post(3, 3);  // the end-of-image reply said "校验失败"
                            })
                      .RunDuring([&] { dlg.RunModal(); });
  ASSERT_TRUE(ok);
  ASSERT_EQ(h.boxes.Count(), 1u);
  const auto box = h.boxes.Boxes()[0];
  EXPECT_EQ(box.text, "固件下载失败（传感器回复：校验失败），请重新下载");
  EXPECT_EQ(box.caption, "警告");
  EXPECT_TRUE(dlg.Finished());
}

TEST_F(ProgressDialog, EveryRefusalIsWordedLikeTheStatusRepliesAndAnAbandonedTransferSaysNothing) {
  const std::pair<std::uint32_t, std::string> reasons[] = {
      {1, "无效指令"}, {2, "内部错误"}, {3, "校验失败"}, {0, "状态 0"}, {4, "状态 4"}, {300, "状态 300"}};
  for (const auto& [status, reason] : reasons)
    ShowFirmwareVerdict(h.op, FirmwareVerdict{FirmwareOutcome::Refused, status}, MessageOwner::MainWindow);
  ShowFirmwareVerdict(h.op, FirmwareVerdict{FirmwareOutcome::NoAnswer, 0}, MessageOwner::MainWindow);
  ShowFirmwareVerdict(h.op, FirmwareVerdict{FirmwareOutcome::Abandoned, 0}, MessageOwner::MainWindow);
  const auto boxes = h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), std::size(reasons) + 1);
  for (std::size_t i = 0; i < std::size(reasons); ++i) {
    EXPECT_EQ(boxes[i].text, "固件下载失败（传感器回复：" + reasons[i].second + "），请重新下载");
    EXPECT_EQ(boxes[i].caption, "警告");
    EXPECT_EQ(boxes[i].owner, MessageOwner::MainWindow);
  }
  EXPECT_EQ(boxes.back().text, "固件下载失败（传感器未应答），请重新下载");
}

TEST_F(ProgressDialog, BeforeTheTotalBothKeysCloseAtOnceAndGiveTheTransferUp) {
  for (Key key : {Key::Escape, Key::Enter}) {
    CProgressDlg dlg(h.windows, h.op, Hooks());
    int result = 0;
    const bool ok = UiScript()
                        .When("started", [&] { return dlg.IsRunning() && starts > 0; },
                              [&] { PressKey(dlg, key); })
                        .RunDuring([&] { result = dlg.RunModal(); });
    ASSERT_TRUE(ok);
    EXPECT_EQ(result, key == Key::Escape ? kIdCancel : kIdOk);
    EXPECT_EQ(Text(dlg, test::kCounterId), "0/0");
  }
  EXPECT_EQ(abandons, 2);
  EXPECT_EQ(h.boxes.Count(), 0u);
}

TEST_F(ProgressDialog, StalledTransferSaysSoRecoversWhenTheSensorAnswersAndLetsTheOperatorLeave) {
  CProgressDlg dlg(h.windows, h.op, Hooks());
  int result = 0;
  const bool ok =
      UiScript()
          .When("started", [&] { return starts == 1; },
                [&] {
                  Post(0, 3);
                  Post(1);
                  transfer.stalled = true;
                })
          .WaitFor("stalled at 1/3", [&] { return dlg.Stalled(); })
          .Do([&] {
            EXPECT_EQ(Text(dlg, test::kCounterId), test::kStalledCounter);
            EXPECT_EQ(Text(dlg, test::kRateLineId), test::kStalledLine);
            transfer.stalled = false;  // a slow step, answered after all: nothing was ended
          })
          .WaitFor("counting again", [&] { return Text(dlg, test::kCounterId) == "1/3"; })
          .Do([&] {
            EXPECT_FALSE(dlg.Stalled());
            EXPECT_NE(Text(dlg, test::kRateLineId), test::kStalledLine);
            PressKey(dlg, Key::Escape);  // due again: refused
            EXPECT_TRUE(dlg.IsRunning());
            Post(1);
            transfer.stalled = true;
          })
          .WaitFor("stalled at 2/3", [&] { return dlg.Stalled(); })
          .Do([&] { PressKey(dlg, Key::Escape); })
          .RunDuring([&] { result = dlg.RunModal(); });
  ASSERT_TRUE(ok);
  EXPECT_EQ(result, kIdCancel);
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{test::kCannotLeave}));
  EXPECT_EQ(abandons, 1);
  EXPECT_EQ(handOvers, 0);
}

TEST_F(ProgressDialog, SpeedLineSaysWhenTheSensorIsSilentAndShowsTheAverageAtNOfN) {
  CProgressDlg dlg(h.windows, h.op, Hooks(248 * 4));
  int looksAtFull = 0;
  std::string lineAtFull;
  const std::regex average(R"(平均 \d+\.\d KB/s，用时 \d\d:\d\d)");
  const bool ok =
      UiScript()
          .When("started", [&] { return starts == 1; },
                [&] {
                  Post(0, 4);
                  Post(1);
                  transfer.waiting = 2100ms;  // no answer for over two seconds
                })
          .WaitFor("not answered yet", [&] { return Text(dlg, test::kRateLineId) == "传感器尚未应答"; })
          .Do([&] {
            transfer.waiting = 0ms;
            Post(1);  // answered: figures again, at once
          })
          .WaitFor("figures", [&] { return Text(dlg, test::kRateLineId).find("剩余") != std::string::npos; })
          .Do([&] {
            Post(1);
            Post(1);  // within the second that keeps figures from changing too often
          })
          .WaitFor("4/4", [&] { return Text(dlg, test::kCounterId) == "4/4"; })
          .Do([&] {
            lineAtFull = Text(dlg, test::kRateLineId);
            EXPECT_TRUE(std::regex_match(lineAtFull, average)) << lineAtFull;
            transfer.waiting = 5000ms;  // the sensor checks the image
            looksAtFull = looks;
          })
          .WaitFor("two more looks", [&] { return looks >= looksAtFull + 2; })
          .Do([&] {
            EXPECT_EQ(Text(dlg, test::kRateLineId), lineAtFull);
            dlg.EndDialog(kIdCancel);
          })
          .RunDuring([&] { dlg.RunModal(); });
  ASSERT_TRUE(ok);
}

TEST_F(ProgressDialog, SpeedLineShowsAPlaceholderThenFiguresAtMostOnceASecond) {
  CProgressDlg dlg(h.windows, h.op, Hooks(2000));
  ProgressRecorder seen;
  seen.Attach(dlg);
  auto lastPost = std::chrono::steady_clock::now();
  const bool ok = UiScript()
                      .When("started", [&] { return starts == 1; },
                            [&] {
                              Post(0, 9);
                              Post(1);
                            })
                      .WaitFor("first figures", [&] { return seen.rateChanges.size() >= 2; })
                      // A slow transfer: a chunk every 200 ms until the line has changed once more.
                      .WaitFor("second figures",
                               [&] {
                                 const auto now = std::chrono::steady_clock::now();
                                 if (dlg.DoneChunks() < 9 && now - lastPost >= 200ms) {
                                   lastPost = now;
                                   Post(1);
                                 }
                                 return seen.rateChanges.size() >= 3;
                               })
                      .Do([&] { dlg.EndDialog(kIdCancel); })
                      .RunDuring([&] { dlg.RunModal(); });
  ASSERT_TRUE(ok);
  ASSERT_GE(seen.rateChanges.size(), 3u);
  EXPECT_EQ(seen.rateChanges[0].text, "-- KB/s，剩余 --:--");
  const std::regex figures(R"(\d+\.\d KB/s，剩余 \d\d:\d\d)");
  for (std::size_t i = 1; i < seen.rateChanges.size(); ++i) {
    EXPECT_TRUE(std::regex_match(seen.rateChanges[i].text, figures)) << seen.rateChanges[i].text;
    if (i >= 2) {
      // From the call of the earlier change's handler to the return of the later
      // one's: never shorter than the window's own interval, however slow the handlers.
      EXPECT_GE(seen.rateChanges[i].at - seen.rateChanges[i - 1].from, 1s);
    }
  }
}

TEST_F(ProgressDialog, RefusedStartEndsTheRunAtOnce) {
  startAnswer = FirmwareLoadResult::Empty;
  CProgressDlg dlg(h.windows, h.op, Hooks());
  EXPECT_FALSE(dlg.StartResult().has_value());
  EXPECT_EQ(dlg.RunModal(), kIdCancel);
  EXPECT_EQ(dlg.StartResult(), FirmwareLoadResult::Empty);
  EXPECT_FALSE(h.windows.Has("固件下载进度"));
  EXPECT_EQ(abandons, 0);
}

TEST_F(ProgressDialog, UnknownParameterAndMissingControlsAreReported) {
  DialogTemplate withoutCounter = ProgressDialogTemplate();
  ASSERT_TRUE(RemoveControl(withoutCounter, test::kCounterId));
  CProgressDlg dlg(h.windows, h.op, Hooks(), withoutCounter);
  dlg.OnProgress(0, 3);
  dlg.OnProgress(1, 0);
  dlg.OnProgress(7, 0);
  EXPECT_EQ(dlg.TotalChunks(), 0);
  EXPECT_EQ(dlg.DoneChunks(), 0);
  EXPECT_EQ(dlg.Control(test::kBarId)->RangeMax(), 100);  // untouched
  EXPECT_EQ(dlg.Control(test::kBarId)->Position(), 0);
  const auto boxes = h.boxes.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Progress或Static对象不存在");
  EXPECT_EQ(boxes[1].text, "Progress或Static对象不存在");
  EXPECT_EQ(boxes[2].text, "Progress非法参数");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.caption, "");  // the application's name
    EXPECT_EQ(box.owner, MessageOwner::ActiveDialog);
  }
}

TEST_F(ProgressDialog, MissingBarKeepsTheWindowOpenOnCancel) {
  DialogTemplate withoutBar = ProgressDialogTemplate();
  ASSERT_TRUE(RemoveControl(withoutBar, test::kBarId));
  CProgressDlg dlg(h.windows, h.op, Hooks(), withoutBar);
  const bool ok = UiScript()
                      .When("started", [&] { return starts == 1; },
                            [&] {
                              PressKey(dlg, Key::Escape);
                              EXPECT_TRUE(dlg.IsRunning());
                              dlg.EndDialog(kIdCancel);
                            })
                      .RunDuring([&] { dlg.RunModal(); });
  ASSERT_TRUE(ok);
  EXPECT_EQ(h.boxes.Texts(), (std::vector<std::string>{"Progress对象不存在"}));
}

}  // namespace
}  // namespace varnel
