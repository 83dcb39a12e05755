// The card poll after a lost reply: the tick waits for the reply to the read
// before it only up to the reply deadline, then counts that read as lost and
// sends the next one, so one reply lost on the line does not freeze the search.
#include <gtest/gtest.h>

#include <thread>

#include "link/FrameReceiver.h"
#include "protocol/CardReadTracker.h"
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
  Operator op{boxes, poster};
  FrameReceiver receiver;
  DeviceSession session{sender, receiver, [] {}, op};
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

// The poll's decisions on a clock of its own (t in ms from an arbitrary start).
class CardReadPacing : public ::testing::Test {
 protected:
  using Step = CardReadTracker::PollStep;
  static CardReadTracker::Clock::time_point T(int ms) {
    return CardReadTracker::Clock::time_point{} + std::chrono::hours(1) + std::chrono::milliseconds(ms);
  }
  CardReadTracker reads{1000ms};
};

TEST_F(CardReadPacing, SensorSlowerThanTheDeadlineGetsTwoReadsNeverThree) {
  reads.Sent(T(0));
  EXPECT_EQ(reads.Decide(T(999), false), Step::Hold);
  ASSERT_EQ(reads.Decide(T(1000), false), Step::SendGivingUp);  // the reply is overdue
  reads.Sent(T(1000));
  // Two out and no reply yet to learn the sensor's pace from: the first read
  // is given a slow sensor's time before it is taken for lost.
  EXPECT_EQ(reads.WaitUntil(), T(4000 + 1000));
  EXPECT_EQ(reads.Decide(T(2499), false), Step::Hold);
  reads.Answered(T(2500));  // 2.5 s for the first read
  ASSERT_EQ(reads.Decide(T(2500), true), Step::Send);
  reads.Sent(T(2500));
  // Two out again: the older is not taken for lost before 2.5 s + the deadline.
  EXPECT_EQ(reads.WaitUntil(), T(1000 + 2500 + 1000));
  EXPECT_EQ(reads.Decide(T(3499), false), Step::Hold);
  reads.Answered(T(3500));
  EXPECT_EQ(reads.Decide(T(3500), true), Step::Send);
  EXPECT_EQ(reads.Outstanding(), 1u);
}

TEST_F(CardReadPacing, ReadLostWithTwoOutIsReplacedOnceOverdue) {
  reads.Sent(T(0));
  reads.Answered(T(20));  // a quick sensor
  reads.Sent(T(100));     // lost on the line
  ASSERT_EQ(reads.Decide(T(1100), false), Step::SendGivingUp);
  reads.Sent(T(1100));    // lost as well
  EXPECT_EQ(reads.Decide(T(1119), false), Step::Hold);
  // Past 20 ms + the deadline the older one is surely lost and leaves the count;
  // the newer one still has its own deadline.
  EXPECT_EQ(reads.Decide(T(1120), false), Step::Hold);
  EXPECT_EQ(reads.Outstanding(), 1u);
  EXPECT_EQ(reads.Decide(T(2100), false), Step::SendGivingUp);
  reads.Sent(T(2100));
  // A stop frees the tick with two out: no third read.
  EXPECT_EQ(reads.Decide(T(2110), true), Step::Hold);
}

TEST_F(CardReadPacing, FirstTwoRepliesLostDoNotEndTheSearch) {
  reads.Sent(T(0));
  ASSERT_EQ(reads.Decide(T(1000), false), Step::SendGivingUp);
  reads.Sent(T(1000));
  EXPECT_EQ(reads.Decide(T(4999), false), Step::Hold);
  // Nothing has answered for longer than a slow sensor takes: the older read
  // is lost, and the newer one is already past its own deadline.
  EXPECT_EQ(reads.Decide(T(5000), false), Step::SendGivingUp);
  EXPECT_EQ(reads.Outstanding(), 1u);
}

TEST_F(CardReadPacing, QuickReplyToTheNewerReadSettlesTheLostOneBeforeIt) {
  reads.Sent(T(0));
  reads.Answered(T(20));
  reads.Sent(T(100));  // its reply is lost
  ASSERT_EQ(reads.Decide(T(1100), false), Step::SendGivingUp);
  reads.Sent(T(1100));
  reads.Answered(T(1121));  // 21 ms: the newer read's reply, not a 1 s late one
  EXPECT_EQ(reads.Outstanding(), 0u);
  EXPECT_EQ(reads.Decide(T(1121), true), Step::Send);
}

}  // namespace
}  // namespace varnel::test
