#pragma once
// The card reads still on their way to the sensor and back, and what the card
// poll may do about them. One poll read waits for the reply to the read before
// it; when that reply is overdue (lost on a noisy line) one more read may go in
// its place, never a third: a slow sensor is given at most two reads to answer,
// however slow it is.
//
// A read with two out is taken for lost only once it is older than the
// sensor's own reply time (learnt from the replies) plus the reply deadline.
// Until a reply has taught that time, the sensor is given kUnlearntReplyTime:
// long enough for a slow sensor's first answer, short enough that the first two
// replies lost on a noisy line do not end the search for good.
//
// Not thread-safe: the session guards it.
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

namespace varnel {

class CardReadTracker {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMaxOutstanding = 2;
  static constexpr std::chrono::milliseconds kUnlearntReplyTime{4000};

  enum class PollStep {
    Send,            // a read may go
    SendGivingUp,    // a read may go in place of one given up for lost
    Hold,            // two reads are out: wait for a reply
  };

  explicit CardReadTracker(std::chrono::milliseconds replyDeadline) : deadline_(replyDeadline) {}

  // A card read went out (the poll's or the identity chain's).
  void Sent(Clock::time_point now);
  // A card-read reply arrived: it settles the read whose age is nearest the
  // sensor's reply time, and any read before that one; the age becomes the
  // sensor's reply time.
  void Answered(Clock::time_point now);

  std::size_t Outstanding() const { return sent_.size(); }

  // Until when a poll tick waits for a reply before it looks again. A time
  // already past when no read is out.
  Clock::time_point WaitUntil() const;
  // What the tick does at `now`; replied: a reply (or a stop) ended its wait.
  // A read with two out that is overdue leaves the count here.
  PollStep Decide(Clock::time_point now, bool replied);

 private:
  std::chrono::milliseconds deadline_;
  std::deque<Clock::time_point> sent_;             // send times, oldest first; at most a few
  std::optional<Clock::duration> replyTime_;       // age of the read the last reply settled
};

}  // namespace varnel
