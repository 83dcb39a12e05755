#pragma once
// The simulated sensor: takes each checked frame from the host, keeps the
// sensor's state and answers the reply as the bytes that go on the wire.
// The model never touches a port and never reads the time itself: it asks
// the clock it was given, so tests can move time by hand.
//
// Single owner: one thread feeds frames and changes the script; nothing here locks.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "link/LinkFrame.h"
#include "sim/CardScript.h"
#include "sim/FirmwareSink.h"
#include "sim/SensorState.h"

namespace varnel::sim {

using SimClock = std::function<SimTime()>;
SimTime SteadyNow();

struct RequestCounts {
  std::array<std::uint64_t, 256> received{};  // good host frames, by command byte
  std::array<std::uint64_t, 256> answered{};  // replies produced, by command byte
  std::uint64_t ignoredWhileRestarting = 0;
  std::uint64_t unknown = 0;                  // command bytes the sensor does not know
};

class SensorModel {
 public:
  static constexpr std::chrono::milliseconds kDefaultRestartSilence{2000};

  explicit SensorModel(SimClock clock = SteadyNow);

  // Answers the reply to one request as wire bytes (preamble BB BB BB BB,
  // aux 01), or nothing when the sensor stays quiet: while it restarts, and
  // for read requests of commands it does not know.
  std::vector<std::uint8_t> Handle(const LinkFrame& request);

  void SetCard(CardScript script) { card_ = std::move(script); }
  const CardScript& card() const { return card_; }

  // Answers every settings, control and registration write with this status
  // and changes nothing; nullopt answers as the sensor decides.
  void SetForcedWriteStatus(std::optional<std::uint8_t> status) { forcedWrite_ = status; }
  std::optional<std::uint8_t> forcedWriteStatus() const { return forcedWrite_; }
  // Reports this status for the firmware-transfer steps; the steps are still carried out.
  void SetForcedOtaStatus(std::optional<std::uint8_t> status) { forcedOta_ = status; }
  std::optional<std::uint8_t> forcedOtaStatus() const { return forcedOta_; }

  void SetRestartSilence(std::chrono::milliseconds silence) { restartSilence_ = silence; }
  std::chrono::milliseconds restartSilence() const { return restartSilence_; }
  // Restarts now: the running configuration goes back to the saved one, a
  // transfer under way is dropped, and nothing is answered until the silence ends.
  void Restart();
  bool Restarting() const;

  SensorIdentity& identity() { return identity_; }
  const SensorIdentity& identity() const { return identity_; }
  SensorConfig& running() { return running_; }
  const SensorConfig& running() const { return running_; }
  const SensorConfig& saved() const { return saved_; }
  FirmwareSink& firmware() { return firmware_; }
  const FirmwareSink& firmware() const { return firmware_; }
  const RequestCounts& counts() const { return counts_; }
  SimTime Now() const { return clock_(); }

 private:
  std::vector<std::uint8_t> HandleWrite(const LinkFrame& request);
  std::optional<std::uint8_t> ApplySetting(const LinkFrame& request);
  std::vector<std::uint8_t> Reply(std::uint8_t code, const std::uint8_t* payload, std::size_t length);
  std::vector<std::uint8_t> Status(std::uint8_t code, std::uint8_t status);

  SimClock clock_;
  SensorIdentity identity_;
  SensorConfig running_ = FactoryConfig();
  SensorConfig saved_ = FactoryConfig();
  CardScript card_;
  FirmwareSink firmware_;
  std::optional<std::uint8_t> forcedWrite_;
  std::optional<std::uint8_t> forcedOta_;
  std::chrono::milliseconds restartSilence_ = kDefaultRestartSilence;
  std::optional<SimTime> silentUntil_;
  RequestCounts counts_;
};

}  // namespace varnel::sim
