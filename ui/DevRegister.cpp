#include "ui/DevRegister.h"

#include <ctime>
#include <string>

#include "ledger/RegistrationLedger.h"
#include "platform/CodePage.h"
#include "protocol/CommandSet.h"
#include "ui/DialogTemplates.h"
#include "ui/rules/DisplayText.h"

namespace varnel {
namespace {

constexpr int kSerialTextChars = 8;
constexpr char kDuplicateSuffix[] = "的记录已经存在";

// A time the system cannot convert (out of its range) reads as all-zero fields
// instead of leaving them undefined.
std::tm LocalCalendarTime(std::time_t instant) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &instant) != 0) local = std::tm{};
#else
  if (localtime_r(&instant, &local) == nullptr) local = std::tm{};
#endif
  return local;
}

}  // namespace

CDevRegister::CDevRegister(AppServices& services, Dialog* parent)
    : CDevRegister(services, RegisterDialogTemplate(), parent) {}

CDevRegister::CDevRegister(AppServices& services, const DialogTemplate& dialogTemplate, Dialog* parent)
    : Dialog(dialogTemplate, parent, &services.windows), services_(services) {
  On(register_ids::Register, Notify::Clicked, [this] { OnRegister(); });
}

void CDevRegister::OnInitDialog() {
  // Only a hint for the operator: the number itself is dated when "注册" is pressed.
  const std::tm local = LocalCalendarTime(services_.now());
  if (DialogControl* prefix = Control(register_ids::DatePrefix)) prefix->SetText(SerialDatePrefix(local));
  if (DialogControl* text = Control(register_ids::SerialText)) text->SetLimitText(kSerialTextChars);
}

CDevRegister::Outcome CDevRegister::RegisterLocked(const std::string& serial, const RegistrationRecord& record,
                                                   std::time_t instant) {
  RegistrationLedger& ledger = services_.ledger;
  // Held from the duplicate check through the sensor write and the record, so another
  // station sharing the ledger can neither pass the same check nor drop this record.
  const LedgerLock lock = ledger.Lock();
  if (!lock) return Outcome::LedgerBusy;  // the ledger said who keeps it
  if (ledger.HasRecord(serial)) return Outcome::Duplicate;
  // The ledger reports its own failures; the sensor gets its number regardless.
  ledger.AddRecord(lock, serial, FormatRegistrationTimestamp(instant));
  services_.session.SendRegisterSn(record);
  return Outcome::Registered;
}

void CDevRegister::OnRegister() {
  // One instant for the record, the serial number and the time stamp, so a press
  // just after midnight at a month's end cannot mix two months.
  const std::time_t instant = services_.now();
  const std::tm local = LocalCalendarTime(instant);

  DialogControl* edit = Control(register_ids::SerialText);
  if (!edit) return;  // without the operator's text there is nothing to register
  const std::string text = edit->Text();  // UTF-8, not validated: may be empty

  // The year byte keeps only the low 8 bits of year - 2000: from 2100 the prefix
  // has three digits, after 2255 (or with a clock set before 2000) it wraps. The
  // serial number is always formed from the record's own bytes, so the sensor,
  // the ledger and the prefix shown in 1022 agree whatever the year.
  const RegistrationRecord record =
      MakeRegistrationRecord(local.tm_year + 1900, local.tm_mon + 1, Utf8ToCodePage(text));
  const std::string serial = FormatSerialNumber(record.year, record.month, text);

  // A text the ledger would refuse or garble is turned away while nothing is stored or
  // sent: afterwards the sensor and the ledger would disagree about the number.
  if (!services_.ledger.CheckStorable(serial)) return;
  switch (RegisterLocked(serial, record, instant)) {
    case Outcome::Registered:
      EndDialog(kIdCancel);
      break;
    case Outcome::Duplicate:
      // Shown once the ledger is free again: the operator's answer may take a while.
      services_.op.ShowMessage("\"" + serial + "\"" + kDuplicateSuffix, {}, MessageButtons::Ok, MessageOwner::ActiveDialog);
      break;  // the operator may change the text and try again
    case Outcome::LedgerBusy:
      break;  // nothing stored, nothing sent; the operator may try again
  }
}

}  // namespace varnel
