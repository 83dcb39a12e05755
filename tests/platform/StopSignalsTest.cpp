// Stop signals become a readable descriptor for the event loop instead of ending the
// process; the handlers in place before come back when the watcher goes.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <atomic>

#include "platform/StopSignals.h"

namespace varnel {
namespace {

std::atomic<int> g_earlierHandlerCalls{0};  // atomic: written by a signal handler
extern "C" void EarlierHandler(int) { g_earlierHandlerCalls.fetch_add(1); }

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 5000) == 1 && (p.revents & POLLIN);
}

TEST(StopSignalsTest, EachStopSignalIsDeliveredAsARequestAndTheEarlierHandlerComesBack) {
  struct sigaction earlier {}, saved {};
  earlier.sa_handler = EarlierHandler;
  sigemptyset(&earlier.sa_mask);
  ASSERT_EQ(::sigaction(SIGHUP, &earlier, &saved), 0);
  {
    StopSignals stop;
    ASSERT_TRUE(stop.Installed());
    EXPECT_FALSE(StopSignals().Installed()) << "only one watcher can own the handlers";
    EXPECT_EQ(stop.Take(), 0);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(signal);
      ASSERT_EQ(::raise(signal), 0);  // the process lives on
      ASSERT_TRUE(Readable(static_cast<int>(stop.Waitable())));
      EXPECT_EQ(stop.Take(), signal);
      EXPECT_EQ(stop.Take(), 0);
    }
  }
  EXPECT_EQ(g_earlierHandlerCalls.load(), 0);
  ASSERT_EQ(::raise(SIGHUP), 0);
  EXPECT_EQ(g_earlierHandlerCalls.load(), 1);
  ::sigaction(SIGHUP, &saved, nullptr);
}

}  // namespace
}  // namespace varnel
