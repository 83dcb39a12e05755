#pragma once
// Faults and timing applied to the sensor's replies on their way to the wire.
//
// A reply goes through, in this order: silent (nothing leaves), drop every Nth,
// AA preamble (the CRC is made anew, so the frame stays good), corrupt the CRC
// of every Nth, noise bytes in front (never AA or BB, so a receiver discards
// them while hunting), the one-shot extras (the reply sent twice, or followed by
// a status reply no request asked for), then timing: a fixed delay, wire
// pacing, and single-byte writes.
//
// Wire pacing makes each exchange take what its bytes take on a serial line at
// the given baud rate, 10 bit times per byte, in both directions: the request
// is taken to be complete on the wire its own length after its last byte
// arrived (or after the request before it completed, if later), and reply byte
// i leaves (i + 1) byte times after the reply starts, which is when the request
// is complete and the previous reply has left.
//
// Single owner: the thread that feeds the sensor.
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/CardScript.h"

namespace varnel::sim {

struct FaultSettings {
  bool silent = false;
  std::uint32_t dropEvery = 0;     // drop every Nth reply; 0 off
  std::uint32_t corruptEvery = 0;  // corrupt the CRC of every Nth reply; 0 off, 1 all
  std::uint32_t noiseBytes = 0;    // bytes of noise before each reply
  bool split = false;              // one write per byte
  bool preambleAA = false;         // AA AA AA AA instead of BB BB BB BB
  std::chrono::milliseconds delay{0};
  std::uint32_t paceBaud = 0;      // 0: no pacing
  // Once each, then off (0): the next reply with this command byte goes out
  // twice; after the next reply with command byte unrequestedAfter, a status
  // reply unrequestedCode (status 0) follows that no request asked for.
  std::uint8_t duplicateCode = 0;
  std::uint8_t unrequestedCode = 0;
  std::uint8_t unrequestedAfter = 0;
};

struct WireWrite {
  SimTime at;                      // not before this instant
  std::vector<std::uint8_t> bytes;
  bool alone = false;              // must be a write of its own (not merged with its neighbours)
};

struct ShaperCounts {
  std::uint64_t replies = 0;    // replies that reached the wire (corrupted ones included)
  std::array<std::uint64_t, 256> sentByCode{};  // the same, by command byte
  std::uint64_t silenced = 0;
  std::uint64_t dropped = 0;
  std::uint64_t corrupted = 0;
  std::uint64_t noiseBytes = 0;
  std::uint64_t duplicated = 0;
  std::uint64_t unrequested = 0;
};

class WireShaper {
 public:
  FaultSettings& settings() { return settings_; }
  const FaultSettings& settings() const { return settings_; }
  const ShaperCounts& counts() const { return counts_; }

  // Turns one reply into the writes that put it on the wire, in order.
  // requestArrived: when the last byte of the request was read;
  // requestBytes: the request's length on the wire. An empty reply (the sensor
  // stays quiet) still occupies the host-to-sensor direction when paced.
  std::vector<WireWrite> Shape(std::vector<std::uint8_t> reply, SimTime requestArrived,
                               std::size_t requestBytes);

  // Forgets the wire's history (a new port: nothing is still on its way).
  void ResetTiming();

  // The time n bytes take at the pacing rate (zero when pacing is off).
  std::chrono::nanoseconds WireTime(std::uint64_t bytes) const;

 private:
  std::uint8_t NoiseByte();
  // Appends the one-shot duplicate and unrequested reply that are due after a reply with this code.
  void AddExtras(std::vector<std::uint8_t>& reply, std::uint8_t code);

  FaultSettings settings_;
  ShaperCounts counts_;
  std::uint64_t dropCounter_ = 0;
  std::uint64_t corruptCounter_ = 0;
  std::uint32_t noiseState_ = 0x12345678u;
  SimTime hostToSensorFree_{};  // when the request direction is idle again
  SimTime sensorToHostFree_{};  // when the reply direction is idle again
  SimTime lastWrite_{};         // writes never go out of order
};

}  // namespace varnel::sim
