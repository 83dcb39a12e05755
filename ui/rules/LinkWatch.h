#pragma once
// The once-a-second link watch decides, from whether the last keep-alive was
// answered, whether the sensor has fallen silent or has just come back.
namespace varnel {

enum class LinkWatchAction {
  None,             // first tick, or still answering
  ReportSilent,     // stop the card search and show the disconnect text
  RequeryIdentity,  // the sensor answers (again): run the identity chain once
};

class LinkWatch {
 public:
  // One tick. The caller then clears the keep-alive flag and sends the next keep-alive.
  // receptionHeld: the tool itself kept replies from being read during the
  // period (a status box was open); an unanswered keep-alive then proves
  // nothing about the sensor, and the tick changes nothing.
  LinkWatchAction Tick(bool keepAliveAnswered, bool receptionHeld = false);

  bool FirstTick() const { return firstTick_; }
  bool IdentityRequeried() const { return identityRequeried_; }

 private:
  bool firstTick_ = true;           // owned by the UI thread
  bool identityRequeried_ = false;  // owned by the UI thread
};

}  // namespace varnel
