#include "sim/SensorState.h"

#include <cstdio>

namespace varnel::sim {

bool ValidCode1to5(std::uint8_t code) { return code >= 1 && code <= 5; }

bool ValidCanId(std::uint32_t id, std::uint8_t frameType) {
  switch (frameType) {
    case 0: return id <= 0x7FFu;
    case 1: return id <= 0x1FFFFFFFu;
    default: return false;
  }
}

bool ValidOutputMode(std::uint8_t mode) { return mode == 1 || mode == 2; }

std::string FormatVersion(const Version& v) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u", v.major, v.minor, v.patch);
  return text;
}

std::string FormatSerial(const SerialNumber& sn) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%02u-%02u-", sn.year, sn.month);
  return prefix + sn.text;
}

std::string FormatConfig(const SensorConfig& c, char fieldSep, char keySep) {
  char text[160];
  std::snprintf(text, sizeof text, "addr%c%u%cbaud%c%u%ccanid%c0x%X%cframe%c%u%crate%c%u%cmode%c%u",
                keySep, c.nodeAddress, fieldSep, keySep, c.baudCode, fieldSep, keySep,
                static_cast<unsigned>(c.canId), fieldSep, keySep, c.frameType, fieldSep, keySep,
                c.canRateCode, fieldSep, keySep, c.outputMode);
  return text;
}

}  // namespace varnel::sim
