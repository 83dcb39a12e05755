#pragma once
// The one wait-with-deadline of the tests: looks at a condition until it holds
// or the deadline passes. Between looks it pauses briefly, or runs what the
// caller gives instead (the dialog tests process Qt's events there, so timers
// and posted calls keep running while they wait).
#include <chrono>
#include <thread>
#include <type_traits>

namespace varnel::test {

template <class Pred, class Between>
  requires std::is_invocable_v<Between>
bool WaitUntil(Pred&& cond, std::chrono::milliseconds within, Between&& between) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    between();
  }
  return true;
}

// every: the pause between looks; a condition that asks another process is
// looked at less often so the asking does not slow that process down.
template <class Pred>
bool WaitUntil(Pred&& cond, std::chrono::milliseconds within,
               std::chrono::milliseconds every = std::chrono::milliseconds(1)) {
  return WaitUntil(std::forward<Pred>(cond), within, [every] { std::this_thread::sleep_for(every); });
}

}  // namespace varnel::test
