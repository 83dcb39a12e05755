#include "ui/DevRegister.h"

#include <ctime>
#include <string>

#include "ledger/RegistrationLedger.h"
#include "protocol/CommandSet.h"
#include "ui/DialogTemplates.h"
#include "ui/rules/DisplayText.h"
#include "ui/rules/SerialNumberDraft.h"

namespace varnel {
namespace {

constexpr int kSerialTextChars = 8;

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

void CDevRegister::OnRegister() {
  // One instant for the record, the serial number and the time stamp.
  const std::time_t instant = services_.now();

  DialogControl* edit = Control(register_ids::SerialText);
  if (!edit) return;  // without the operator's text there is nothing to register
  const std::string text = edit->Text();  // UTF-8, not validated: may be empty

  const auto [record, serial] = DraftSerialNumber(instant, text);

  // A text the ledger would refuse or garble is turned away while nothing is stored or
  // sent: afterwards the sensor and the ledger would disagree about the number.
  if (!services_.ledger.CheckStorable(serial)) return;
  const RegisterOutcome outcome = services_.ledger.Register(
      serial, FormatRegistrationTimestamp(instant), [&] { services_.session.SendRegisterSn(record); });
  switch (outcome) {
    case RegisterOutcome::Registered:
    case RegisterOutcome::NotRecorded:  // the ledger has said why
      EndDialog(kIdCancel);
      break;
    case RegisterOutcome::Duplicate:
      // Shown once the ledger is free again: the operator's answer may take a while.
      services_.op.ShowMessage(DuplicateSerialText(serial), {}, MessageButtons::Ok, MessageOwner::ActiveDialog);
      break;  // the operator may change the text and try again
    case RegisterOutcome::LedgerBusy:
      break;  // nothing stored, nothing sent; the operator may try again
  }
}

}  // namespace varnel
