#pragma once
// What the simulated sensor knows about itself: its identity (fixed at the
// factory, apart from the registered serial number) and its configuration, of
// which it keeps a running copy and a saved copy.
#include <cstdint>
#include <string>

namespace varnel::sim {

struct Version {
  std::uint8_t lead = 0;  // byte 0 of the version replies; the tool does not read it
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  std::uint8_t patch = 0;
};

struct SerialNumber {
  std::uint8_t year = 0;  // two digits, year - 2000
  std::uint8_t month = 0;
  std::string text;       // at most kMaxSerialText bytes, no zero byte inside
};

constexpr std::size_t kMaxSerialText = 32;

struct SensorIdentity {
  Version firmware{0, 1, 0, 12};
  Version hardware{0, 2, 1, 0};
  SerialNumber serial{24, 3, "SIM0001"};
};

struct SensorConfig {
  std::uint8_t nodeAddress = 1;
  std::uint8_t baudCode = 1;      // 1..5: 115200, 57600, 38400, 19200, 9600
  std::uint32_t canId = 0x100;
  std::uint8_t frameType = 0;     // 0 StdId (11 bit), 1 ExdId (29 bit)
  std::uint8_t canRateCode = 3;   // 1..5: 1M, 800K, 500K, 250K, 125K
  std::uint8_t outputMode = 1;    // 1 passive query, 2 trigger mode

  bool operator==(const SensorConfig&) const = default;
};

// The configuration a factory reset brings back.
inline SensorConfig FactoryConfig() { return SensorConfig{}; }

// Value checks a write must pass before the sensor applies it.
bool ValidCode1to5(std::uint8_t code);
bool ValidCanId(std::uint32_t id, std::uint8_t frameType);
bool ValidOutputMode(std::uint8_t mode);

// "1.0.12"
std::string FormatVersion(const Version& v);
// "24-03-SIM0001"
std::string FormatSerial(const SerialNumber& sn);
// "addr=1 baud=1 canid=0x100 frame=0 rate=3 mode=1", with the given separator
// between fields and between key and value.
std::string FormatConfig(const SensorConfig& c, char fieldSep = ' ', char keySep = '=');

}  // namespace varnel::sim
