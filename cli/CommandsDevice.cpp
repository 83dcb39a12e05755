// ports, info, set, restart/save/factory-reset and card: one request (or the
// identity chain, or the card poll) on one port.
#include <algorithm>
#include <memory>
#include <span>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/SettingArguments.h"
#include "platform/PortEnumeration.h"
#include "protocol/CommandSet.h"
#include "ui/rules/DisplayText.h"
#include "ui/rules/PortListing.h"
#include "ui/rules/SettingCodes.h"

namespace varnel::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The text of a list entry, or the bare code when the list has none for it.
std::string EntryText(std::span<const ListEntry> entries, std::uint8_t code) {
  for (const ListEntry& entry : entries)
    if (entry.code == code) return entry.text;
  return "code " + std::to_string(code);
}

// Opens port for a command that talks to one sensor.
std::unique_ptr<SensorPort> OpenSensor(const CommandContext& ctx, MessagePresenter& boxes, const std::string& name) {
  auto port = std::make_unique<SensorPort>(name, boxes, ctx.dump);
  if (!port->Open()) {
    Complain(ctx, "cannot open " + name);
    return nullptr;
  }
  return port;
}

ExitCode NoAnswer(const CommandContext& ctx, const std::string& port, std::chrono::milliseconds timeout) {
  Complain(ctx, port + ": the sensor did not answer within " + std::to_string(timeout.count()) + " ms");
  return ExitCode::NoAnswer;
}

// Sends one write request and reports the sensor's status as the result.
ExitCode RunWrite(const CommandContext& ctx, const LinkFrame& request, const std::string& what) {
  std::string name;
  if (!SinglePort(ctx, name)) return ExitCode::BadInput;
  StderrPresenter boxes(ctx.err);
  const auto port = OpenSensor(ctx, boxes, name);
  if (!port) return ExitCode::PortUnavailable;
  const std::optional<std::uint32_t> status = WriteAndWait(*port, request, ctx.policy.timeout);
  if (!status) return NoAnswer(ctx, name, ctx.policy.timeout);
  if (ctx.json) {
    Json json{{"port", name}, {"request", what}, {"status", *status == kNoStatus ? Json() : Json(*status)},
              {"text", StatusText(*status)}};
    PrintLine(ctx, Dump(json));
  } else {
    PrintLine(ctx, name + ": " + what + ": " + StatusText(*status) + " (status " +
                       (*status == kNoStatus ? std::string("none") : std::to_string(*status)) + ")");
  }
  return *status == 0 ? ExitCode::Ok : ExitCode::Refused;
}

}  // namespace

ExitCode RunPorts(const CommandContext& ctx, const std::string& publishedPortsDir) {
  const PortListing listing =
      ApplyPortListingRule(EnumerateSerialPorts(publishedPortsDir), kPortNamesUseComRule);
  if (ctx.json) {
    PrintLine(ctx, Dump(Json{{"ports", listing.listed}}));
  } else {
    for (const std::string& port : listing.listed) PrintLine(ctx, port);
  }
  return ExitCode::Ok;
}

ExitCode RunInfo(const CommandContext& ctx) {
  std::string name;
  if (!SinglePort(ctx, name)) return ExitCode::BadInput;
  StderrPresenter boxes(ctx.err);
  const auto port = OpenSensor(ctx, boxes, name);
  if (!port) return ExitCode::PortUnavailable;
  const std::optional<IdentityReport> identity = ReadIdentity(*port, ctx.policy);
  if (!identity) return NoAnswer(ctx, name, ctx.policy.timeout);

  const SensorSettings& s = port->Session().Settings();
  const std::uint8_t address = s.serialNodeAddress.load();
  const std::uint8_t baudCode = s.serialBaudCode.load();
  const std::uint32_t canId = s.canNodeId.load();
  const std::uint8_t frameType = s.canFrameType.load();
  const std::uint8_t rateCode = s.canRateCode.load();
  const std::string frameText = frameType == 0 ? "std" : frameType == 1 ? "ext" : "code " + std::to_string(frameType);
  const std::string canIdText = FormatCanNodeId(canId, frameType).text;
  // The sensor has no read for its output mode: only a write sets it.
  if (ctx.json) {
    Json json{{"port", name},
              {"firmware", IdentityValue(identity->firmwareLine)},
              {"hardware", IdentityValue(identity->hardwareLine)},
              {"serial_number", IdentityValue(identity->serialNumberLine)},
              {"serial", {{"address", FormatSerialNodeAddress(address)},
                          {"baud", EntryText(kSerialBaudEntries, baudCode)},
                          {"baud_code", baudCode}}},
              {"can", {{"id", canIdText}, {"id_value", canId}, {"frame", frameText},
                       {"rate", EntryText(kCanRateEntries, rateCode)}, {"rate_code", rateCode}}},
              {"output_mode", nullptr}};
    PrintLine(ctx, Dump(json));
    return ExitCode::Ok;
  }
  PrintLine(ctx, "port:           " + name);
  PrintLine(ctx, "firmware:       " + IdentityValue(identity->firmwareLine));
  PrintLine(ctx, "hardware:       " + IdentityValue(identity->hardwareLine));
  PrintLine(ctx, "S/N:            " + IdentityValue(identity->serialNumberLine));
  PrintLine(ctx, "serial address: " + FormatSerialNodeAddress(address));
  PrintLine(ctx, "serial baud:    " + EntryText(kSerialBaudEntries, baudCode));
  PrintLine(ctx, "CAN id:         " + canIdText + " (" + frameText + ")");
  PrintLine(ctx, "CAN rate:       " + EntryText(kCanRateEntries, rateCode));
  PrintLine(ctx, "output mode:    not reported by the sensor");
  return ExitCode::Ok;
}

ExitCode RunSet(const CommandContext& ctx, const std::string& setting, const std::string& value,
                const std::string& frame) {
  const SettingWrite write = ParseSettingWrite(setting, value, frame);
  if (!write.accepted) {
    Complain(ctx, write.refusal);
    return ExitCode::BadInput;
  }
  return RunWrite(ctx, write.request, write.summary);
}

ExitCode RunControl(const CommandContext& ctx, ControlAction action, bool confirmed) {
  const char* name = action == ControlAction::Restart ? "restart" : action == ControlAction::Save ? "save" : "factory-reset";
  if (!confirmed) {
    Complain(ctx, std::string(name) + " changes the sensor: add --yes to go ahead (nothing was sent)");
    return ExitCode::BadInput;
  }
  switch (action) {
    case ControlAction::Restart: return RunWrite(ctx, MakeRestartRequest(), name);
    case ControlAction::Save: return RunWrite(ctx, MakeSaveConfigRequest(), name);
    case ControlAction::FactoryReset: return RunWrite(ctx, MakeFactoryResetRequest(), name);
  }
  return ExitCode::Failed;
}

ExitCode RunCard(const CommandContext& ctx, int count, bool watch) {
  std::string name;
  if (!SinglePort(ctx, name)) return ExitCode::BadInput;
  StderrPresenter boxes(ctx.err);
  const auto port = OpenSensor(ctx, boxes, name);
  if (!port) return ExitCode::PortUnavailable;
  // The poll of the card search: a read every 100 ms, one outstanding, a lost
  // one asked again after its deadline. Silence for all the tries is no answer.
  const auto silence = ctx.policy.timeout * (ctx.policy.readRetries + 1);
  port->Session().StartCardPoll();
  int shown = 0;
  auto deadline = NotificationQueue::Clock::now() + silence;
  while (watch || shown < count) {
    if (ctx.stopRequested()) break;
    const auto slice = std::min(deadline, NotificationQueue::Clock::now() + std::chrono::milliseconds(100));
    const std::optional<Notification> n = port->Events().WaitNext(slice);
    if (!n) {
      if (NotificationQueue::Clock::now() >= deadline) {
        port->Session().StopCardPoll();
        return NoAnswer(ctx, name, std::chrono::duration_cast<std::chrono::milliseconds>(silence));
      }
      continue;
    }
    if (n->message != WM_CARD_NUMBER) continue;
    deadline = NotificationQueue::Clock::now() + silence;
    ++shown;
    const std::optional<std::string> text = CardNumberText(n->wParam, n->lParam);
    if (ctx.json) {
      PrintLine(ctx, Dump(Json{{"port", name}, {"status", n->wParam}, {"number", n->lParam},
                               {"card", text ? Json(*text) : Json()}}));
    } else {
      PrintLine(ctx, name + ": " + (text ? *text : "status " + std::to_string(n->wParam) + " number " +
                                                       std::to_string(n->lParam)));
    }
  }
  port->Session().StopCardPoll();
  return ExitCode::Ok;
}

}  // namespace varnel::cli
