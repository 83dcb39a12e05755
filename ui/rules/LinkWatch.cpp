#include "ui/rules/LinkWatch.h"

namespace varnel {

LinkWatchAction LinkWatch::Tick(bool keepAliveAnswered) {
  LinkWatchAction action = LinkWatchAction::None;
  if (!firstTick_) {
    if (!keepAliveAnswered) {
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
