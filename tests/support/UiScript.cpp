#include "tests/support/UiScript.h"

#include <gtest/gtest.h>

namespace varnel::test {

UiScript& UiScript::WaitFor(std::string what, std::function<bool()> cond, std::chrono::milliseconds timeout) {
  steps_.push_back({std::move(what), std::move(cond), nullptr, timeout});
  return *this;
}

UiScript& UiScript::Settle(std::string what, std::function<bool()> cond, std::chrono::milliseconds timeout) {
  steps_.push_back({std::move(what), std::move(cond), nullptr, timeout, false});
  return *this;
}

UiScript& UiScript::Do(std::function<void()> action) {
  steps_.push_back({"action", [] { return true; }, std::move(action), std::chrono::seconds(5)});
  return *this;
}

UiScript& UiScript::When(std::string what, std::function<bool()> cond, std::function<void()> action,
                         std::chrono::milliseconds timeout) {
  steps_.push_back({std::move(what), std::move(cond), std::move(action), timeout});
  return *this;
}

bool UiScript::RunDuring(const std::function<void()>& body) {
  std::size_t next = 0;
  bool failed = false;
  auto stepStarted = std::chrono::steady_clock::now();
  auto lastLook = stepStarted;
  auto tick = [&] {
    if (failed || next >= steps_.size()) return;
    Step& step = steps_[next];
    // A step still waiting after a while is looked at less often: many conditions
    // ask the simulator, and asking it 200 times a second slows its replies on a
    // loaded machine until the link watch takes them for silence.
    const auto now = std::chrono::steady_clock::now();
    if (now - stepStarted > std::chrono::milliseconds(200) && now - lastLook < std::chrono::milliseconds(50)) return;
    lastLook = now;
    if (step.cond()) {
      ++next;
      stepStarted = std::chrono::steady_clock::now();
      if (step.action) step.action();
      return;
    }
    if (std::chrono::steady_clock::now() - stepStarted > step.timeout) {
      if (!step.failsAtTimeout) {
        ++next;
        stepStarted = std::chrono::steady_clock::now();
        return;
      }
      failed = true;
      ADD_FAILURE() << "UI step timed out: " << step.what;
      CancelAllDialogs();
    }
  };
  {
    const Ticker ticker(5, tick);
    body();
  }
  if (!failed && next < steps_.size()) {
    ADD_FAILURE() << "the dialog ended before this step: " << steps_[next].what;
    return false;
  }
  return !failed;
}

}  // namespace varnel::test
