#pragma once
// Reading the simulated sensor's "stats" answer, for tests that start it
// themselves (SimProcess) and for Windows programs it is relayed to (SimRelay).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace varnel::test {

// Requests with this command byte the sensor had received when it answered
// stats ("codes=30:5,7F:3,F0:1": command bytes in hex, counts in decimal).
inline std::uint64_t RequestCount(const std::map<std::string, std::string>& stats, std::uint8_t code) {
  const auto it = stats.find("codes");
  if (it == stats.end()) return 0;
  char key[4];
  std::snprintf(key, sizeof key, "%02X:", code);
  const std::string& codes = it->second;
  for (std::size_t at = 0; at < codes.size();) {
    const std::size_t end = std::min(codes.find(',', at), codes.size());
    if (codes.compare(at, 3, key) == 0) return std::stoull(codes.substr(at + 3, end - at - 3));
    at = end + 1;
  }
  return 0;
}

}  // namespace varnel::test
