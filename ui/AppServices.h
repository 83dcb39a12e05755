#pragma once
// What the dialogs work with: the link, the conversation with the sensor, the
// window registry notifications are addressed through, the way to the
// operator, the ledger and the clock. main() passes the objects it built;
// tests pass fresh ones.
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "platform/Operator.h"
#include "protocol/DeviceSession.h"
#include "ui/framework/WindowNotifications.h"

namespace varnel {

struct AppServices {
  DeviceLink& link;
  DeviceSession& session;
  WindowRegistry& windows;
  Operator op;  // message boxes and notifications, the same ones the link and session use
  RegistrationLedger& ledger;
  // The serial ports the system reports, in its order (re-read on every call).
  std::function<std::vector<std::string>()> enumeratePorts;
  // Seconds since the epoch; the registration dialog dates serial numbers by it.
  std::function<std::time_t()> now = [] { return std::time(nullptr); };
};

}  // namespace varnel
