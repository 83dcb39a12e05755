#pragma once
// The registration ledger: "Tallis.ini" in the current directory, INI text whose section
// [DID] maps every serial number written into a sensor to the local time it was
// registered. Every call reads the file afresh; nothing is kept between calls.
//
// Stations may share one ledger (a network folder): a registration holds the ledger's
// lock from its duplicate check to its record, so two of them can neither record the
// same number twice nor drop each other's records.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/LockFile.h"
#include "platform/Operator.h"

namespace varnel {

// The ledger's lock as a registration holds it; released when it goes.
class LedgerLock {
 public:
  // Whether the registration may go on: the lock is held, or there is no ledger file
  // to guard (its steps then report the missing ledger as they always did).
  explicit operator bool() const { return mayProceed_; }
  bool Held() const { return lock_ && lock_->Status() == LockFile::State::Held; }

 private:
  friend class RegistrationLedger;
  LedgerLock(bool mayProceed, std::optional<LockFile> lock) : mayProceed_(mayProceed), lock_(std::move(lock)) {}

  bool mayProceed_;
  std::optional<LockFile> lock_;
};

// How a registration ended. The sensor is written in every case but the first two.
enum class RegisterOutcome {
  Duplicate,    // the ledger holds the number already: nothing stored, nothing sent
  LedgerBusy,   // another station kept the ledger (it said who): nothing stored, nothing sent
  Registered,   // recorded and sent
  NotRecorded,  // the ledger refused the record (it said why); the sensor got its number
};

class RegistrationLedger {
 public:
  static constexpr std::chrono::milliseconds kDefaultLockWait{5000};

  // op: where failures are reported (boxes over the active dialog). lockWait: how
  // long a registration waits for another station to finish its own. file: the
  // ledger's path; empty for "Tallis.ini" in the current directory of each call.
  explicit RegistrationLedger(const Operator& op, std::chrono::milliseconds lockWait = kDefaultLockWait,
                              std::filesystem::path file = {})
      : operator_(op), lockWait_(lockWait), file_(std::move(file)) {}

  // Takes the ledger's lock (a file beside the ledger, ".lock" added to its name). When
  // another process keeps it for the whole wait, tells the operator which host and
  // process hold it and answers a lock that refuses (false).
  LedgerLock Lock() const;

  // Whether serial (UTF-8) can be recorded so that it reads back as itself. When not,
  // tells the operator which character stands in the way: one the system code page
  // cannot represent (it would become "?" and collide with another number), a line
  // break or other control character, "=", or a blank at the end.
  bool CheckStorable(const std::string& serial) const;

  // True when [DID] holds serial (UTF-8, letter case ignored) with a value other than
  // "default". A missing or unreadable ledger is reported to the operator; the answer
  // is then false.
  bool HasRecord(const std::string& serial) const;

  // Records serial with timestamp (both UTF-8) and rewrites the ledger, under lock (which
  // the caller holds). The ledger is never created here. Failures are reported to the
  // operator only, and leave the file exactly as it was. Answers whether it was stored.
  bool AddRecord(const LedgerLock& lock, const std::string& serial, const std::string& timestamp) const;
  // The same, taking the lock for this one store.
  bool AddRecord(const std::string& serial, const std::string& timestamp) const;

  // One registration: under the lock, the duplicate check, the record, then
  // writeSensor (which sends the number to the sensor).
  RegisterOutcome Register(const std::string& serial, const std::string& timestamp,
                           const std::function<void()>& writeSensor) const;

 private:
  void Warn(const std::string& text) const;

  const Operator operator_;  // outlives the ledger
  std::chrono::milliseconds lockWait_;
  std::filesystem::path file_;  // empty: the current directory's ledger
};

// instant in local time as "%Y-%m-%d %H:%M:%S", e.g. 2019-07-05 09:30:12.
std::string FormatRegistrationTimestamp(std::time_t instant);

}  // namespace varnel
