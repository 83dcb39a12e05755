#pragma once
// The link and the session over a real port, with recorders where the dialogs
// and the boxes would be: what the end-to-end protocol tests drive.
#include <gtest/gtest.h>

#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "protocol/DeviceSession.h"
#include "tests/protocol/Recorders.h"

namespace varnel::test {

struct RecordedSession {
  // Starts the link and waits for the identity chain to end with its card reading.
  void RunIdentityChain() {
    session.StartLink();
    ASSERT_TRUE(poster.WaitFor(WM_CARD_NUMBER, 0, 15s)) << "the identity chain did not end";
  }
  void Stop() {
    session.Shutdown();
    link.Stop();
  }

  FrameReceiver receiver;
  RecordingPoster poster;
  RecordingPresenter boxes;
  Operator op{boxes, poster};
  DeviceLink link{receiver, op};
  DeviceSession session{link, receiver, [this] { link.StartReader(); }, op};
};

}  // namespace varnel::test
