#pragma once
// The registration ledger: "Tallis.ini" in the current directory, INI text whose section
// [DID] maps every serial number written into a sensor to the local time it was
// registered. Every call reads the file afresh; nothing is kept between calls.
#include <ctime>
#include <string>

namespace varnel {

class RegistrationLedger {
 public:
  // True when [DID] holds serial (UTF-8, letter case ignored) with a value other than
  // "default". A missing or unreadable ledger is reported to the operator; the answer
  // is then false.
  bool HasRecord(const std::string& serial) const;

  // Records serial with timestamp (both UTF-8) and rewrites the ledger. The ledger is
  // never created here. Failures are reported to the operator only, and leave the file
  // exactly as it was.
  void AddRecord(const std::string& serial, const std::string& timestamp) const;
};

// instant in local time as "%Y-%m-%d %H:%M:%S", e.g. 2019-07-05 09:30:12.
std::string FormatRegistrationTimestamp(std::time_t instant);

}  // namespace varnel
