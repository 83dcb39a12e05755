#include "sim/SensorModel.h"

#include <algorithm>
#include <cstring>

namespace varnel::sim {
namespace {

constexpr std::uint8_t kWriteBit = 0x80;

void PutU32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsControlArgument(const LinkFrame& f) { return f.length == 1 && f.payload[0] == 0x01; }

}  // namespace

SimTime SteadyNow() { return std::chrono::steady_clock::now(); }

SensorModel::SensorModel(SimClock clock) : clock_(std::move(clock)) {}

void SensorModel::Restart() {
  running_ = saved_;
  firmware_.Abort();
  silentUntil_ = clock_() + restartSilence_;
}

bool SensorModel::Restarting() const { return silentUntil_ && clock_() < *silentUntil_; }

std::vector<std::uint8_t> SensorModel::Handle(const LinkFrame& request) {
  ++counts_.received[request.code];
  if (Restarting()) {
    ++counts_.ignoredWhileRestarting;
    return {};
  }
  silentUntil_.reset();

  if (request.code & kWriteBit) return HandleWrite(request);

  std::uint8_t payload[kLinkMaxReceivedPayload];
  switch (request.code) {
    case 0x01:
    case 0x02: {
      const Version& v = request.code == 0x01 ? identity_.firmware : identity_.hardware;
      const std::uint8_t bytes[] = {v.lead, v.major, v.minor, v.patch};
      return Reply(request.code, bytes, sizeof bytes);
    }
    case 0x03: {
      const SerialNumber& sn = identity_.serial;
      const std::size_t text = std::min(sn.text.size(), kMaxSerialText);
      payload[0] = sn.year;
      payload[1] = sn.month;
      std::memcpy(payload + 2, sn.text.data(), text);
      payload[2 + text] = 0;
      return Reply(request.code, payload, text + 3);
    }
    case 0x10: return Reply(request.code, &running_.nodeAddress, 1);
    case 0x11: return Reply(request.code, &running_.baudCode, 1);
    case 0x12:
      PutU32(payload, running_.canId);
      payload[4] = running_.frameType;
      return Reply(request.code, payload, 5);
    case 0x13: return Reply(request.code, &running_.canRateCode, 1);
    case 0x30: {
      const CardReading reading = card_.At(clock_());
      payload[0] = reading.status;
      PutU32(payload + 1, reading.number);
      return Reply(request.code, payload, 5);
    }
    case 0x7F:
      // The keep-alive comes back as a data reply carrying what was sent.
      return Reply(request.code, request.payload,
                   std::min<std::size_t>(request.length, kLinkMaxReceivedPayload));
    default:
      ++counts_.unknown;
      return {};
  }
}

std::vector<std::uint8_t> SensorModel::HandleWrite(const LinkFrame& request) {
  const std::uint8_t code = request.code;
  if (code >= 0xF0 && code <= 0xF4) {
    const std::uint8_t status = firmware_.Handle(code, request.payload, request.length);
    return Status(code, forcedOta_.value_or(status));
  }
  const std::optional<std::uint8_t> known = ApplySetting(request);
  if (!known) {
    ++counts_.unknown;
    return Status(code, kStatusInvalid);
  }
  return Status(code, *known);
}

// Answers the status of a settings, control or registration write, or nullopt
// for a command byte the sensor does not know.
std::optional<std::uint8_t> SensorModel::ApplySetting(const LinkFrame& r) {
  const std::uint8_t code = r.code;
  const bool known = (code >= 0x90 && code <= 0x93) || (code >= 0xA0 && code <= 0xA3) || code == 0xEF;
  if (!known) return std::nullopt;
  if (forcedWrite_) return *forcedWrite_;

  const std::uint8_t* p = r.payload;
  switch (code) {
    case 0x90:
      if (r.length != 1) return kStatusInvalid;
      running_.nodeAddress = p[0];
      return kStatusOk;
    case 0x91:
      if (r.length != 1 || !ValidCode1to5(p[0])) return kStatusInvalid;
      running_.baudCode = p[0];
      return kStatusOk;
    case 0x92: {
      if (r.length != 5) return kStatusInvalid;
      const std::uint32_t id = GetU32(p);
      if (!ValidCanId(id, p[4])) return kStatusInvalid;
      running_.canId = id;
      running_.frameType = p[4];
      return kStatusOk;
    }
    case 0x93:
      if (r.length != 1 || !ValidCode1to5(p[0])) return kStatusInvalid;
      running_.canRateCode = p[0];
      return kStatusOk;
    case 0xA0:
      if (r.length != 1 || !ValidOutputMode(p[0])) return kStatusInvalid;
      running_.outputMode = p[0];
      return kStatusOk;
    case 0xA1:
      if (!IsControlArgument(r)) return kStatusInvalid;
      saved_ = running_;
      return kStatusOk;
    case 0xA2:
      // Factory values take effect at once; they persist only once saved.
      if (!IsControlArgument(r)) return kStatusInvalid;
      running_ = FactoryConfig();
      return kStatusOk;
    case 0xA3:
      if (!IsControlArgument(r)) return kStatusInvalid;
      Restart();  // the status reply still leaves before the silence
      return kStatusOk;
    case 0xEF: {
      static constexpr std::uint8_t kMarker[4] = {0xFE, 0xFE, 0xFE, 0xFE};
      if (r.length != 38 || std::memcmp(p, kMarker, 4) != 0) return kStatusInvalid;
      const std::uint8_t month = p[5];
      if (month < 1 || month > 12) return kStatusInvalid;
      // The text ends at its first zero byte, or fills all 32 bytes.
      const std::uint8_t* text = p + 6;
      const std::uint8_t* end = std::find(text, text + kMaxSerialText, std::uint8_t{0});
      identity_.serial = SerialNumber{p[4], month, std::string(text, end)};
      return kStatusOk;
    }
    default: return kStatusInvalid;
  }
}

std::vector<std::uint8_t> SensorModel::Status(std::uint8_t code, std::uint8_t status) {
  return Reply(code, &status, 1);
}

std::vector<std::uint8_t> SensorModel::Reply(std::uint8_t code, const std::uint8_t* payload,
                                             std::size_t length) {
  LinkFrame frame = MakeRequest(code, payload, length);  // same header as the host's: BB.., aux 01
  std::vector<std::uint8_t> wire(kLinkMaxWireFrame);
  wire.resize(SerialiseFrame(frame, wire.data()));
  ++counts_.answered[code];
  return wire;
}

}  // namespace varnel::sim
