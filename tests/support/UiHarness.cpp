#include "tests/support/UiHarness.h"

#include <QCoreApplication>

#include "platform/MessageBox.h"

namespace varnel::test {

UiHarness::UiHarness()
    : session(link, receiver, [this] { link.StartReader(); }, poster),
      services{link, session, windows, ledger, [this] { return ports; }} {
  receiver.SetDumpEnabled(false);
  SetMessagePresenter(&boxes);
}

UiHarness::~UiHarness() {
  session.Shutdown();
  link.Stop();
  SetMessagePresenter(nullptr);
  // Notifications still queued for windows of this test go with them.
  QCoreApplication::removePostedEvents(nullptr, NotificationEvent::EventType());
}

}  // namespace varnel::test
