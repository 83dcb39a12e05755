#pragma once
// One sensor on one port, the way the command line talks to it: the link, the
// session with its reply handlers, and a queue in which every result arrives.
// Besides what the reply handlers post, every good frame is announced in the
// queue (kReplySeen) once the session has handled it, so a command can wait for
// the answer to its own request.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/CliOperator.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "link/TrafficDump.h"
#include "protocol/DeviceSession.h"

namespace varnel::cli {

// wParam: the reply's command byte; lParam: its status byte (payload byte 0),
// kNoStatus for a reply without payload.
constexpr std::uint32_t kReplySeen = WM_USER + 200;
constexpr std::uint32_t kNoStatus = 0xFFFFFFFFu;

// How long a request waits for its reply, and how often a read is asked again.
// A write or a firmware step is never repeated: the sensor may have done it.
struct RequestPolicy {
  std::chrono::milliseconds timeout{1000};
  int readRetries = 2;
};

class SensorPort {
 public:
  // boxes: where the link, the session and the ledger report; dump: the traffic
  // dump, none for no dump. Both outlive the port.
  SensorPort(std::string name, MessagePresenter& boxes, TrafficLog* dump);
  ~SensorPort();  // stops the session's timers, then the reader, then closes the port
  SensorPort(const SensorPort&) = delete;
  SensorPort& operator=(const SensorPort&) = delete;

  // Opens the port at 115200 Bd and starts reading. On failure the link has
  // printed the system's reason on standard error.
  bool Open();

  const std::string& Name() const { return name_; }
  DeviceSession& Session() { return session_; }
  NotificationQueue& Events() { return events_; }
  const Operator& Op() const { return operator_; }
  void Send(LinkFrame frame) { link_.SendData(frame); }

 private:
  const std::string name_;
  NotificationQueue events_;
  const Operator operator_;
  FrameReceiver receiver_;
  DeviceLink link_;
  DeviceSession session_;
};

// The answer to a write request: its status byte, or none when the sensor was
// silent for policy.timeout. Replies to anything else are passed over.
std::optional<std::uint32_t> WriteAndWait(SensorPort& port, LinkFrame request, std::chrono::milliseconds timeout);
// The waiting half alone, for a request sent already (the queue cleared before it).
std::optional<std::uint32_t> AwaitStatus(SensorPort& port, std::uint8_t code, std::chrono::milliseconds timeout);

// What the identity chain reports. Lines are UTF-8, as the handlers formed them.
struct IdentityReport {
  std::string firmwareLine;
  std::string hardwareLine;
  std::string serialNumberLine;
};

// Runs the identity chain (0x01 to 0x13) and waits for its end. A read whose
// reply does not come within the time-out is asked again, up to
// policy.readRetries times, and the chain goes on from there. None when the
// sensor stayed silent; the settings are in port.Session().Settings().
std::optional<IdentityReport> ReadIdentity(SensorPort& port, const RequestPolicy& policy);

// The part of an identity line after " : ", without its line end.
std::string IdentityValue(const std::string& line);

}  // namespace varnel::cli
