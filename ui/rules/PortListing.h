#pragma once
// Which enumerated ports the connect dialog lists, and which it picks first.
#include <string>
#include <vector>

namespace varnel {

struct PortListing {
  std::vector<std::string> listed;  // in enumeration order, duplicates kept
  std::string portName;             // the first enumerated name, listed or not
};

// With the COM rule (Windows names), the list is the leading run of names that
// begin with "COM" (case-sensitive); elsewhere every reported port is listed.
// At most 128 names are looked at.
PortListing ApplyPortListingRule(const std::vector<std::string>& enumerated, bool requireComPrefix);

// The folder simulated sensors publish their pseudo-terminals in: varnel/ports
// under the user's runtime directory; empty when there is none.
std::string PublishedPortsDirectory();

#ifdef _WIN32
constexpr bool kPortNamesUseComRule = true;
#else
constexpr bool kPortNamesUseComRule = false;
#endif

}  // namespace varnel
