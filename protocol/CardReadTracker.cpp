#include "protocol/CardReadTracker.h"

namespace varnel {

void CardReadTracker::Sent(Clock::time_point now) { sent_.push_back(now); }

void CardReadTracker::Answered(Clock::time_point now) {
  // A reply to a read already given up for lost finds nothing to settle.
  if (sent_.empty()) return;
  // Replies carry nothing that names their read. The sensor takes about the
  // same time for each, so the reply is taken for the read whose age is
  // nearest that time; reads before it went unanswered (the sensor answers in
  // order) and leave with it. Before the first reply: the oldest.
  std::size_t answered = 0;
  if (replyTime_) {
    auto off = [&](std::size_t i) {
      const Clock::duration d = (now - sent_[i]) - *replyTime_;
      return d < Clock::duration::zero() ? -d : d;
    };
    for (std::size_t i = 1; i < sent_.size(); ++i)
      if (off(i) < off(answered)) answered = i;
  }
  replyTime_ = now - sent_[answered];
  sent_.erase(sent_.begin(), sent_.begin() + static_cast<std::ptrdiff_t>(answered) + 1);
}

CardReadTracker::Clock::time_point CardReadTracker::WaitUntil() const {
  if (sent_.empty()) return Clock::time_point::min();
  if (sent_.size() < kMaxOutstanding) return sent_.back() + deadline_;
  const Clock::duration replyTime = replyTime_ ? *replyTime_ : Clock::duration(kUnlearntReplyTime);
  return sent_.front() + replyTime + deadline_;
}

CardReadTracker::PollStep CardReadTracker::Decide(Clock::time_point now, bool replied) {
  if (sent_.size() >= kMaxOutstanding) {
    if (now < WaitUntil()) return PollStep::Hold;
    // Older than any reply this sensor has taken: lost, not slow. It was
    // already given up when the read after it went; now it leaves the count.
    sent_.pop_front();
    if (sent_.size() >= kMaxOutstanding) return PollStep::Hold;
  }
  if (sent_.empty() || replied) return PollStep::Send;
  return now >= sent_.back() + deadline_ ? PollStep::SendGivingUp : PollStep::Hold;
}

}  // namespace varnel
