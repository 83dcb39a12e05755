#include "ui/rules/PortListing.h"

#include "platform/RuntimeDirectory.h"

namespace varnel {

std::string PublishedPortsDirectory() {
  const std::string runtime = UserRuntimeDirectory();
  if (runtime.empty()) return {};
  return runtime + "/varnel/ports";
}

PortListing ApplyPortListingRule(const std::vector<std::string>& enumerated, bool requireComPrefix) {
  constexpr std::size_t kTableSize = 128;
  PortListing result;
  if (!enumerated.empty()) result.portName = enumerated.front();
  for (std::size_t i = 0; i < enumerated.size() && i < kTableSize; ++i) {
    if (requireComPrefix && enumerated[i].compare(0, 3, "COM") != 0) break;
    result.listed.push_back(enumerated[i]);
  }
  return result;
}

}  // namespace varnel
