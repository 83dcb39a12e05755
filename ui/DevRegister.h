#pragma once
// The production registration dialog: the operator types the individual part
// of a sensor's serial number, the dialog puts the current two-digit year and
// month in front of it, refuses a number the ledger already holds, records a
// new one with the time of registration and writes it into the sensor.
#include <ctime>
#include <string>

#include "protocol/CommandSet.h"
#include "ui/AppServices.h"
#include "ui/framework/Dialog.h"

namespace varnel {

class CDevRegister : public Dialog {
 public:
  explicit CDevRegister(AppServices& services, Dialog* parent = nullptr);
  CDevRegister(AppServices& services, const DialogTemplate& dialogTemplate, Dialog* parent = nullptr);

  // The "注册" button: check the text, lock the ledger, look up, record, send, close.
  // A duplicate, a text the ledger cannot hold or a ledger kept by another station
  // keeps the dialog open.
  void OnRegister();

 protected:
  void OnInitDialog() override;

 private:
  enum class Outcome { Registered, Duplicate, LedgerBusy };
  // The steps under the ledger's lock: duplicate check, record, sensor write.
  Outcome RegisterLocked(const std::string& serial, const RegistrationRecord& record, std::time_t instant);

  AppServices& services_;  // outlives the dialog
};

}  // namespace varnel
