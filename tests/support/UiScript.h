#pragma once
// Driving dialogs from a test: steps that run from a timer while a modal run
// is under way and act on the modal window on top, as an operator would.
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/OperatorInput.h"
#include "tests/support/Wait.h"

namespace varnel::test {

// Steps that run one after another from a 5 ms timer while a modal run (the
// body) is under way: a step waits until its condition holds, then acts. A step
// whose condition does not hold in time fails the test and every open dialog is
// cancelled, so a broken test ends instead of hanging.
class UiScript {
 public:
  UiScript& WaitFor(std::string what, std::function<bool()> cond,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
  UiScript& Do(std::function<void()> action);
  // Waits for cond, then acts.
  UiScript& When(std::string what, std::function<bool()> cond, std::function<void()> action,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits for cond, but moves on at the timeout instead of failing: the step
  // after it asserts the same state and so reports the value it found.
  UiScript& Settle(std::string what, std::function<bool()> cond, std::chrono::milliseconds timeout);
  // Waits for a modal window of type T on top, then acts on it.
  template <typename T>
  UiScript& OnModal(std::string what, std::function<void(T*)> action,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return When(std::move(what), [] { return ActiveModal<T>() != nullptr; },
                [action = std::move(action)] { action(ActiveModal<T>()); }, timeout);
  }

  // Runs body (typically dialog.RunModal()) with the steps. Answers whether every step ran.
  bool RunDuring(const std::function<void()>& body);

 private:
  struct Step {
    std::string what;
    std::function<bool()> cond;
    std::function<void()> action;
    std::chrono::milliseconds timeout;
    bool failsAtTimeout = true;
  };
  std::vector<Step> steps_;
};

}  // namespace varnel::test
