// The reply dispatcher, the identity chain, status replies, the card-read gate
// and the start of the link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/FrameReceiver.h"
#include "link/TrafficDump.h"
#include "protocol/DeviceSession.h"
#include "tests/protocol/Recorders.h"

namespace varnel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Sequencer : public ::testing::Test {
 protected:
  Sequencer() { receiver.SetDumpEnabled(false); }

  RecordingSender sender;
  RecordingPoster poster;
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  FrameReceiver receiver;
  std::atomic<int> readerStarts{0};
  DeviceSession session{sender, receiver, [this] { readerStarts.fetch_add(1); }, op};
};

// --- The data-reply table -----------------------------------------------------------

struct ChainRow {
  std::uint8_t reply;
  std::initializer_list<std::uint8_t> payload;
  std::uint8_t next;  // the request that follows, 0 for none
};

TEST_F(Sequencer, EachChainReplyRunsItsHandlerAndSendsTheNextQuery) {
  const ChainRow rows[] = {
      {0x01, {0, 1, 0, 12}, 0x02},  {0x02, {0, 2, 1, 0}, 0x03},    {0x03, {24, 3, 'A', 0}, 0x10},
      {0x10, {0x2A}, 0x11},         {0x11, {4}, 0x12},              {0x12, {0xF0, 7, 0, 0, 0}, 0x13},
      {0x13, {5}, 0x30},            {0x30, {1, 0x31, 1, 0, 0}, 0},
  };
  const std::uint32_t notifications[] = {0x465, 0x465, 0x465, 0x466, 0x466, 0x466, 0x466, 0x467};
  int i = 0;
  for (const ChainRow& row : rows) {
    sender.Clear();
    poster.Clear();
    session.DispatchReply(Reply(row.reply, row.payload));
    if (row.next) {
      EXPECT_THAT(sender.Frames(), ElementsAre(Framed({0xBB, 0xBB, 0xBB, 0xBB, 0x01, row.next, 0, 0})))
          << int(row.reply);
    } else {
      EXPECT_THAT(sender.Frames(), IsEmpty());
    }
    EXPECT_EQ(session.NextQuery(), row.next);
    ASSERT_FALSE(poster.All().empty()) << int(row.reply);
    EXPECT_EQ(poster.All().back().notification.message, notifications[i++]);
  }
  EXPECT_EQ(session.Settings().serialNodeAddress.load(), 0x2A);
  EXPECT_EQ(session.Settings().serialBaudCode.load(), 4);
  EXPECT_EQ(session.Settings().canNodeId.load(), 0x7F0u);
  EXPECT_EQ(session.Settings().canRateCode.load(), 5);
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
}

TEST_F(Sequencer, FirmwareReplyChainsToTheIdentityQueryAfterAnUnknownReply) {
  // nextQuery starts at 0x01: an unknown reply sends the identity query again.
  session.DispatchReply(Reply(0x00, {}));
  EXPECT_THAT(sender.Frames(),
              ElementsAre(Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}));
  EXPECT_EQ(session.NextQuery(), 0x01);
}

TEST_F(Sequencer, UnknownReplyRepeatsThePendingQuery) {
  session.DispatchReply(Reply(0x10, {1}));  // nextQuery 0x11
  sender.Clear();
  session.DispatchReply(Reply(0x05, {1, 2, 3}));
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0x11}));
  EXPECT_EQ(session.NextQuery(), 0x11);
}

TEST_F(Sequencer, UnknownReplyAfterTheChainSendsNothing) {
  session.DispatchReply(Reply(0x30, {0, 0, 0, 0, 0}));
  sender.Clear();
  session.DispatchReply(Reply(0x00, {}));
  session.DispatchReply(Reply(0x44, {9}));
  EXPECT_THAT(sender.Frames(), IsEmpty());
  EXPECT_EQ(session.NextQuery(), 0);
}

TEST_F(Sequencer, ChainCodeContinuesFromWhereverItIs) {
  session.DispatchReply(Reply(0x30, {0, 0, 0, 0, 0}));  // chain finished
  sender.Clear();
  session.DispatchReply(Reply(0x12, {0, 1, 0, 0, 0}));
  session.DispatchReply(Reply(0x13, {3}));
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0x13, 0x30}));
}

TEST_F(Sequencer, KeepAliveReplySetsTheFlagAndSendsNothing) {
  session.DispatchReply(Reply(0x10, {1}));  // nextQuery 0x11
  sender.Clear();
  session.DispatchReply(Reply(0x7F, {}));
  EXPECT_THAT(sender.Frames(), IsEmpty());
  EXPECT_EQ(session.NextQuery(), 0x11);
  EXPECT_TRUE(session.TakeKeepAliveAnswered());
  EXPECT_FALSE(session.TakeKeepAliveAnswered());  // taking clears it
}

TEST_F(Sequencer, ShortRepliesAreIgnoredButTheChainAdvances) {
  const std::pair<std::uint8_t, std::uint8_t> rows[] = {
      {0x01, 0x02}, {0x02, 0x03}, {0x03, 0x10}, {0x10, 0x11},
      {0x11, 0x12}, {0x12, 0x13}, {0x13, 0x30}, {0x30, 0x00},
  };
  session.CardReadGate().Acquire();  // as if a poll tick had sent a read
  for (const auto& [reply, next] : rows) {
    sender.Clear();
    // Empty payloads, with stale bytes in the record behind them.
    session.DispatchReply(Reply(reply, {}, 0x55));
    EXPECT_EQ(session.NextQuery(), next) << int(reply);
    EXPECT_EQ(sender.Count(), next ? 1u : 0u) << int(reply);
  }
  EXPECT_THAT(poster.All(), IsEmpty());
  EXPECT_EQ(session.Settings().serialNodeAddress.load(), 0);
  EXPECT_EQ(session.Settings().canNodeId.load(), 0u);
  EXPECT_EQ(session.CardReadGate().Count(), 1);  // a short card reply still frees the gate
}

// --- Status replies -----------------------------------------------------------------

TEST_F(Sequencer, StatusRepliesShowTheirText) {
  const std::pair<std::uint8_t, const char*> rows[] = {
      {0, "设置成功"}, {1, "无效指令"}, {2, "内部错误"}, {3, "校验失败"}};
  for (const auto& [status, text] : rows) {
    session.DispatchReply(Reply(0x91, {status}));
    ASSERT_FALSE(boxes.Boxes().empty());
    const Shown box = boxes.Boxes().back();
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, "提示");
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.owner, MessageOwner::MainWindow);
  }
  EXPECT_EQ(boxes.Boxes().size(), 4u);
  EXPECT_THAT(sender.Frames(), IsEmpty());
  EXPECT_EQ(session.NextQuery(), 0x01);
}

TEST_F(Sequencer, StatusRepliesThatShowNothing) {
  session.DispatchReply(Reply(0x91, {7}));
  session.DispatchReply(Reply(0xA3, {0xFF}));
  session.DispatchReply(Reply(0x90, {}, 0x01));  // no status byte; a stale 01 must not count
  session.DispatchReply(Reply(0xF2, {3}));       // firmware step, no transfer running
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  EXPECT_THAT(sender.Frames(), IsEmpty());
}

TEST_F(Sequencer, KeepAliveWithWriteBitIsAStatusReply) {
  session.DispatchReply(Reply(0xFF, {0}));
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, "设置成功");
  EXPECT_FALSE(session.KeepAliveAnswered());
}

TEST_F(Sequencer, NoMainWindowNoStatus) {
  poster.SetWindows({"固件下载进度"});
  session.DispatchReply(Reply(0x91, {0}));
  session.DispatchReply(Reply(0xEF, {1}));
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
}

TEST_F(Sequencer, FirmwareStatusGoesToTheTransferWithoutABox) {
  ASSERT_EQ(session.Firmware().StartFirmwareDownload(std::filesystem::path("/nonexistent/Rfid.bin")),
            FirmwareLoadResult::CannotOpen);
  ASSERT_EQ(session.Firmware().StartFirmwareDownload(Bytes{'a', 'b', 'c'}), FirmwareLoadResult::Ok);
  sender.Clear();
  session.DispatchReply(Reply(0xF0, {1}));  // "无效指令" status, yet no box: it advances
  session.DispatchReply(Reply(0xF1, {0}));
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0xF1, 0xF2}));
  EXPECT_THAT(boxes.Boxes(), IsEmpty());
  // Without the main window, even firmware replies are dropped.
  poster.SetWindows({"固件下载进度"});
  session.DispatchReply(Reply(0xF2, {0}));
  EXPECT_EQ(sender.Count(), 2u);
}

// --- The card-read gate ---------------------------------------------------------------

TEST_F(Sequencer, ChainDrivenCardReplyLeavesTheGateAtOne) {
  ASSERT_EQ(session.CardReadGate().Count(), 1);
  session.DispatchReply(Reply(0x13, {1}));  // chain sends 0x30 without the gate
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0x30}));
  session.DispatchReply(Reply(0x30, {0, 0, 0, 0, 0}));
  EXPECT_EQ(session.CardReadGate().Count(), 1);
}

TEST_F(Sequencer, TickWaitsForTheReplyToTheReadBeforeIt) {
  std::thread first([&] { session.CardPollTick(); });
  ASSERT_TRUE(sender.WaitForCount(1, 5s));
  first.join();
  std::thread second([&] { session.CardPollTick(); });
  // A silent sensor: the second tick waits on the gate and sends nothing.
  EXPECT_FALSE(sender.WaitForCount(2, 200ms));
  session.DispatchReply(Reply(0x30, {0, 0, 0, 0, 0}));  // ends the chain: the reply itself sends nothing
  ASSERT_TRUE(sender.WaitForCount(2, 5s));
  second.join();
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0x30, 0x30}));
  EXPECT_EQ(session.CardReadGate().Count(), 0);
}

TEST_F(Sequencer, PollOnASilentSensorSendsOneReadAndStopReleasesOneMore) {
  EXPECT_FALSE(session.IsCardPollRunning());
  session.StartCardPoll();
  EXPECT_TRUE(session.IsCardPollRunning());
  ASSERT_TRUE(sender.WaitForCount(1, 5s));
  // Several periods pass with no reply: no request piles up.
  EXPECT_FALSE(sender.WaitForCount(2, 350ms));
  session.StopCardPoll();  // the waiting tick sends one last read, then the thread is joined
  EXPECT_FALSE(session.IsCardPollRunning());
  EXPECT_EQ(sender.Codes(), (std::vector<std::uint8_t>{0x30, 0x30}));
  EXPECT_EQ(session.CardReadGate().Count(), 0);  // that last read is outstanding
  session.StopCardPoll();                        // nothing the second time
  EXPECT_EQ(session.CardReadGate().Count(), 0);
  EXPECT_EQ(sender.Count(), 2u);
}

TEST_F(Sequencer, PollKeepsOneReadOutstandingWithAnAnsweringSensor) {
  session.DispatchReply(Reply(0x30, {0, 0, 0, 0, 0}));  // chain finished: replies send nothing more
  session.StartCardPoll();
  for (std::size_t n = 1; n <= 3; ++n) {
    ASSERT_TRUE(sender.WaitForCount(n, 5s));
    EXPECT_EQ(session.CardReadGate().Count(), 0);
    EXPECT_FALSE(sender.WaitForCount(n + 1, 150ms)) << "a read went out before the reply";
    session.DispatchReply(Reply(0x30, {1, static_cast<std::uint8_t>(n), 0, 0, 0}));
  }
  session.StopCardPoll();
  for (std::uint8_t code : sender.Codes()) EXPECT_EQ(code, 0x30);
  const auto posted = poster.All();
  ASSERT_GE(posted.size(), 4u);
  EXPECT_EQ(posted[3].notification.lParam, 3u);
}

TEST_F(Sequencer, StartCardPollTwiceKeepsOneTimer) {
  session.StartCardPoll();
  session.StartCardPoll();
  ASSERT_TRUE(sender.WaitForCount(1, 5s));
  EXPECT_FALSE(sender.WaitForCount(2, 250ms));
  session.StopCardPoll();
  EXPECT_EQ(sender.Count(), 2u);
}

// --- Starting the link ------------------------------------------------------------------

TEST_F(Sequencer, StartLinkInstallsTheHandlerStartsTheReaderThenQueries) {
  const auto started = std::chrono::steady_clock::now();
  session.StartLink();
  EXPECT_EQ(readerStarts.load(), 1);
  // The dispatcher is the receiver's handler: a keep-alive reply on the wire reaches it.
  const Bytes keepAlive = {0xAA, 0xAA, 0xAA, 0xAA, 0x05, 0x7F, 0x00, 0x00};
  const Bytes frame = Framed(keepAlive);
  receiver.Feed(frame.data(), frame.size());
  EXPECT_TRUE(session.KeepAliveAnswered());

  ASSERT_TRUE(sender.WaitForCount(1, 5s));
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 495ms);  // the one-shot identity query never fires early
  EXPECT_THAT(sender.Frames(),
              ElementsAre(Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}));

  session.StartLink();  // once per session
  EXPECT_EQ(readerStarts.load(), 1);
}

TEST_F(Sequencer, ShutdownBeforeTheIdentityQuerySendsNothing) {
  session.StartLink();
  session.Shutdown();
  EXPECT_FALSE(sender.WaitForCount(1, 700ms));
}

// Two sessions in one process each reach their own operator: nothing is shared.
TEST(SessionOperator, EachSessionPostsAndShowsThroughTheOperatorItWasHanded) {
  RecordingSender sender;
  FrameReceiver receiver;
  RecordingPoster windows;
  RecordingPresenter boxes;
  RecordingPoster otherWindows;
  otherWindows.SetWindows({});
  RecordingPresenter otherBoxes;
  DeviceSession session{sender, receiver, {}, Operator{boxes, windows}};
  DeviceSession other{sender, receiver, {}, Operator{otherBoxes, otherWindows}};
  session.DispatchReply(Reply(0x13, {2}));
  EXPECT_EQ(session.Settings().canRateCode.load(), 2);
  ASSERT_EQ(windows.All().size(), 1u);
  EXPECT_EQ(windows.All()[0].notification.message, 0x466u);
  EXPECT_TRUE(otherBoxes.Boxes().empty());
  other.DispatchReply(Reply(0x13, {3}));  // its operator has no main window
  EXPECT_EQ(windows.All().size(), 1u);
  EXPECT_TRUE(boxes.Boxes().empty());
  ASSERT_EQ(otherBoxes.Boxes().size(), 1u);
  EXPECT_EQ(otherBoxes.Boxes()[0].text, "找不到CVarnelDlg对象");
  EXPECT_EQ(session.Settings().canRateCode.load(), 2);
}

}  // namespace
}  // namespace varnel::test
