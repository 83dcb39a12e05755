#pragma once
// What varnel-cli answers a script with. The numbers are part of the tool's
// interface: scripts on production lines test them, so they never change.
#include <string>

namespace varnel::cli {

enum class ExitCode : int {
  Ok = 0,
  Failed = 1,           // something the tool itself could not do (an internal error)
  BadInput = 2,         // bad arguments, or input the sensor or the ledger would not take
  PortUnavailable = 3,  // the port cannot be opened (the system's reason is printed)
  NoAnswer = 4,         // the sensor did not answer in time
  Refused = 5,          // the sensor answered with a failure status (printed)
  LedgerRefused = 6,    // the ledger is kept by another station, holds the number, or refused the record
};

constexpr int ToInt(ExitCode code) { return static_cast<int>(code); }

// The table for --help and the README: one line per code.
std::string ExitCodeTable();

}  // namespace varnel::cli
