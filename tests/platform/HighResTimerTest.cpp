#include "platform/HighResTimer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include "platform/Win32.h"
#endif

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A one-way gate with a deadline-bounded wait.
class Latch {
 public:
  // Notifies under the lock: a waiter may destroy the latch as soon as it sees it open.
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  bool WaitFor(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, within, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;  // guarded by mutex_
};

// Tells when the thread that called Arm() has ended.
#ifdef _WIN32
// A handle to the thread, which the system signals when the thread ends. (The POSIX way
// below does not work with mingw-w64's runtime: once a std::async thread has run, a
// thread_local destructor that locks a mutex corrupts the heap.)
class ThreadEnd {
 public:
  ~ThreadEnd() {
    if (handle_) CloseHandle(handle_);
  }
  void Arm() {
    handle_ = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    armed_.Open();
  }
  bool WaitFor(std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    if (!armed_.WaitFor(within) || !handle_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return WaitForSingleObject(handle_, static_cast<DWORD>(std::max<long long>(left, 0))) == WAIT_OBJECT_0;
  }

 private:
  Latch armed_;
  HANDLE handle_ = nullptr;  // written by Arm() before armed_ opens, read only after it has
};
#else
// Opens a latch when the thread that set it ends.
struct ThreadExitSignal {
  Latch* latch = nullptr;
  ~ThreadExitSignal() {
    if (latch) latch->Open();
  }
};
thread_local ThreadExitSignal t_exitSignal;

class ThreadEnd {
 public:
  void Arm() { t_exitSignal.latch = &ended_; }
  bool WaitFor(std::chrono::milliseconds within) { return ended_.WaitFor(within); }

 private:
  Latch ended_;
};
#endif

TEST(HighResTimerTest, OneShotFiresOnceAndItsThreadEndsByItself) {
  std::atomic<int> calls{0};
  Latch fired;
  ThreadEnd threadEnded;
  HighResTimer timer(HighResTimer::Kind::OneShot, 1ms, [&] {
    threadEnded.Arm();
    ++calls;
    fired.Open();
  });
  ASSERT_TRUE(fired.WaitFor(10s));
  // Without any Kill: a one-shot timer's thread ends after its single call.
  ASSERT_TRUE(threadEnded.WaitFor(10s));
  EXPECT_EQ(calls.load(), 1);
}

TEST(HighResTimerTest, PeriodicTicksRepeatAndNeverComeEarly) {
  constexpr auto kPeriod = 5ms;
  constexpr int kTicks = 6;
  std::mutex mutex;
  std::vector<Clock::time_point> ticks;  // guarded by mutex
  Latch enough;
  const auto start = Clock::now();
  {
    HighResTimer timer(HighResTimer::Kind::Periodic, kPeriod, [&] {
      std::lock_guard lock(mutex);
      ticks.push_back(Clock::now());
      if (ticks.size() == kTicks) enough.Open();
    });
    ASSERT_TRUE(enough.WaitFor(10s));
  }
  std::lock_guard lock(mutex);
  ASSERT_GE(ticks.size(), static_cast<std::size_t>(kTicks));
  // Tick k is due k periods after the start; a timer may be late, never early.
  for (std::size_t k = 0; k < ticks.size(); ++k)
    EXPECT_GE(ticks[k] - start, kPeriod * static_cast<int>(k + 1)) << "tick " << k;
}

TEST(HighResTimerTest, KillDuringABlockedCallbackReturnsAndNoTickFollows) {
  std::atomic<int> calls{0};
  Latch entered;
  Latch release;
  auto timer = std::make_unique<HighResTimer>(HighResTimer::Kind::Periodic, 1ms, [&] {
    ++calls;
    entered.Open();
    release.WaitFor(10s);
  });
  ASSERT_TRUE(entered.WaitFor(10s));
  // The callback is blocked on something only this thread releases; Kill must not wait for it.
  auto killed = std::async(std::launch::async, [&] { timer->Kill(); });
  ASSERT_EQ(killed.wait_for(10s), std::future_status::ready);
  release.Open();
  timer.reset();  // joins
  EXPECT_EQ(calls.load(), 1);
}

TEST(HighResTimerTest, DestructorWaitsForTheRunningCallback) {
  std::atomic<bool> finished{false};
  Latch entered;
  Latch release;
  auto timer = std::make_unique<HighResTimer>(HighResTimer::Kind::OneShot, 1ms, [&] {
    entered.Open();
    release.WaitFor(10s);
    finished = true;
  });
  ASSERT_TRUE(entered.WaitFor(10s));
  std::thread releaser([&] { release.Open(); });
  timer.reset();
  EXPECT_TRUE(finished.load());
  releaser.join();
}

TEST(HighResTimerTest, TimerMayBeDestroyedFromItsOwnCallback) {
  ThreadEnd threadEnded;
  std::unique_ptr<HighResTimer> timer;
  std::mutex mutex;  // orders the construction before the callback's reset
  Latch done;
  {
    std::lock_guard lock(mutex);
    timer = std::make_unique<HighResTimer>(HighResTimer::Kind::Periodic, 1ms, [&] {
      threadEnded.Arm();
      std::lock_guard inner(mutex);
      timer.reset();
      done.Open();
    });
  }
  ASSERT_TRUE(done.WaitFor(10s));
  ASSERT_TRUE(threadEnded.WaitFor(10s));
  EXPECT_EQ(timer, nullptr);
}

}  // namespace
}  // namespace varnel
