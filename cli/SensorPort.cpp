#include "cli/SensorPort.h"

#include <array>

#include "platform/CodePage.h"

namespace varnel::cli {

SensorPort::SensorPort(std::string name, MessagePresenter& boxes, TrafficLog* dump)
    : name_(std::move(name)),
      operator_{boxes, events_},
      link_(receiver_, operator_, dump),
      session_(link_, receiver_, {}, operator_, dump) {
  receiver_.SetTrafficLog(dump);
}

SensorPort::~SensorPort() {
  session_.Shutdown();
  link_.Stop();
}

bool SensorPort::Open() {
  if (!link_.OpenPort(name_, 115200)) return false;
  // Installed before the reader runs. The announcement follows the session's
  // own handling, so whatever a reply stores or posts is there when it is seen.
  receiver_.SetFrameHandler([this](const LinkFrame& frame) {
    session_.DispatchReply(frame);
    events_.Post({}, Notification{kReplySeen, frame.code, frame.length > 0 ? frame.payload[0] : kNoStatus, {}});
  });
  link_.StartReader();
  return true;
}

std::optional<std::uint32_t> WriteAndWait(SensorPort& port, LinkFrame request, std::chrono::milliseconds timeout) {
  const std::uint8_t code = request.code;
  port.Events().Clear();
  port.Send(request);
  return AwaitStatus(port, code, timeout);
}

std::optional<std::uint32_t> AwaitStatus(SensorPort& port, std::uint8_t code, std::chrono::milliseconds timeout) {
  const auto deadline = NotificationQueue::Clock::now() + timeout;
  while (const std::optional<Notification> n = port.Events().WaitNext(deadline)) {
    if (n->message == kReplySeen && n->wParam == code) return n->lParam;
  }
  return std::nullopt;
}

namespace {

constexpr std::array<std::uint8_t, 7> kChain = {CMD_FIRMWARE_VERSION, CMD_HARDWARE_VERSION, CMD_SERIAL_NUMBER,
                                                CMD_NODE_ADDRESS,     CMD_SERIAL_BAUD,      CMD_CAN_ID,
                                                CMD_CAN_RATE};

int ChainPosition(std::uint32_t code) {
  for (std::size_t i = 0; i < kChain.size(); ++i)
    if (kChain[i] == code) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::optional<IdentityReport> ReadIdentity(SensorPort& port, const RequestPolicy& policy) {
  IdentityReport report;
  std::string lastLine;
  std::size_t awaited = 0;  // position in kChain of the reply awaited
  int retriesLeft = policy.readRetries;
  port.Events().Clear();
  port.Session().SendIdentityQuery();
  auto deadline = NotificationQueue::Clock::now() + policy.timeout;
  for (;;) {
    const std::optional<Notification> n = port.Events().WaitNext(deadline);
    if (!n) {
      if (retriesLeft-- <= 0) return std::nullopt;
      // The session's chain goes on from whichever read is answered.
      port.Send(MakeReadRequest(kChain[awaited]));
      deadline = NotificationQueue::Clock::now() + policy.timeout;
      continue;
    }
    if (n->message == WM_DEVICE_INFO && n->text) {
      lastLine = CodePageToUtf8(*n->text);
      continue;
    }
    if (n->message != kReplySeen || IsWriteCode(static_cast<std::uint8_t>(n->wParam))) continue;
    const int position = ChainPosition(n->wParam);
    if (position < 0) continue;
    // The line a version or serial-number reply posted came just before it.
    if (n->wParam == CMD_FIRMWARE_VERSION) report.firmwareLine = lastLine;
    if (n->wParam == CMD_HARDWARE_VERSION) report.hardwareLine = lastLine;
    if (n->wParam == CMD_SERIAL_NUMBER) report.serialNumberLine = lastLine;
    lastLine.clear();
    if (static_cast<std::size_t>(position) + 1 == kChain.size()) return report;
    awaited = static_cast<std::size_t>(position) + 1;
    retriesLeft = policy.readRetries;
    deadline = NotificationQueue::Clock::now() + policy.timeout;
  }
}

std::string IdentityValue(const std::string& line) {
  const std::size_t mark = line.find(" : ");
  std::string value = mark == std::string::npos ? line : line.substr(mark + 3);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

}  // namespace varnel::cli
