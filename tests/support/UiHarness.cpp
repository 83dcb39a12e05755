#include "tests/support/UiHarness.h"

#include "tests/support/OperatorInput.h"

namespace varnel::test {

UiHarness::UiHarness()
    : session(link, receiver, [this] { link.StartReader(); }, op),
      services{link, session, windows, op, ledger, [this] { return ports; }} {
  receiver.SetDumpEnabled(false);
}

UiHarness::~UiHarness() {
  session.Shutdown();
  link.Stop();
  // Notifications still queued for windows of this test go with them.
  DiscardPendingNotifications();
}

}  // namespace varnel::test
