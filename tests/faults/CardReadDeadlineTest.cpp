// The card poll after a lost reply: the tick waits for the reply to the read
// before it only up to the reply deadline, then counts that read as lost and
// sends the next one, so one reply lost on the line does not freeze the search.
#include <gtest/gtest.h>

#include <thread>

#include "link/FrameReceiver.h"
#include "protocol/DeviceSession.h"
#include "tests/protocol/Recorders.h"

namespace varnel::test {
namespace {

class CardReadDeadline : public ::testing::Test {
 protected:
  const Bytes kCardRead = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64};

  RecordingSender sender;
  RecordingPoster poster;
  RecordingPresenter boxes;
  FrameReceiver receiver;
  DeviceSession session{sender, receiver, [] {}, poster};
};

TEST_F(CardReadDeadline, ATickAfterALostReplyWaitsTheDeadlineThenReadsAgain) {
  session.CardPollTick();  // the gate is free: the read goes at once
  ASSERT_EQ(sender.Count(), 1u);
  std::thread second([&] { session.CardPollTick(); });
  // No reply: the next tick holds back...
  EXPECT_FALSE(sender.WaitForCount(2, DeviceSession::kCardReplyDeadline / 2));
  EXPECT_EQ(session.LostCardReads(), 0u);
  // ...until the deadline, then gives the read up and sends the next one.
  ASSERT_TRUE(sender.WaitForCount(2, 10 * DeviceSession::kCardReplyDeadline));
  second.join();
  EXPECT_EQ(session.LostCardReads(), 1u);
  EXPECT_EQ(session.CardReadGate().Count(), 0);
  for (const Bytes& f : sender.Frames()) EXPECT_EQ(f, kCardRead);

  // A late reply to the lost read and the reply to the new one: the gate is free
  // once, not twice, and the next tick goes at once without another loss.
  session.DispatchReply(Reply(0x30, {1, 0x31, 0x01, 0, 0}));
  session.DispatchReply(Reply(0x30, {1, 0x31, 0x01, 0, 0}));
  EXPECT_EQ(session.CardReadGate().Count(), 1);
  session.CardPollTick();
  EXPECT_EQ(sender.Count(), 3u);
  EXPECT_EQ(session.CardReadGate().Count(), 0);
  EXPECT_EQ(session.LostCardReads(), 1u);
  EXPECT_EQ(poster.All().size(), 2u);
}

TEST_F(CardReadDeadline, StopFreesAWaitingTickWithoutCountingALoss) {
  session.StartCardPoll();
  ASSERT_TRUE(sender.WaitForCount(1, 5s));
  // The next tick is now waiting on the gate (ticks come every 100 ms).
  EXPECT_FALSE(sender.WaitForCount(2, 300ms));
  session.StopCardPoll();
  // The stop freed the tick, which sent its last read: no deadline ran out.
  EXPECT_EQ(sender.Count(), 2u);
  EXPECT_EQ(session.LostCardReads(), 0u);
}

}  // namespace
}  // namespace varnel::test
