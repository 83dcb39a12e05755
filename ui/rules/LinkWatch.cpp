#include "ui/rules/LinkWatch.h"

namespace varnel {

LinkWatchAction LinkWatch::Tick(bool keepAliveAnswered, bool receptionHeld) {
  LinkWatchAction action = LinkWatchAction::None;
  if (!firstTick_) {
    if (!keepAliveAnswered && receptionHeld) {
      // Not the sensor's silence: the answer is waiting in the port.
    } else if (!keepAliveAnswered) {
      identityRequeried_ = false;
      action = LinkWatchAction::ReportSilent;
    } else if (!identityRequeried_) {
      identityRequeried_ = true;
      action = LinkWatchAction::RequeryIdentity;
    }
  }
  firstTick_ = false;
  return action;
}

}  // namespace varnel
