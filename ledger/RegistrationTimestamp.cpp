#include <ctime>

#include "ledger/RegistrationLedger.h"

namespace varnel {

std::string FormatRegistrationTimestamp(std::time_t instant) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &instant) != 0) return {};
#else
  if (localtime_r(&instant, &local) == nullptr) return {};
#endif
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

}  // namespace varnel
