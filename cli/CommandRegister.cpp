// register: the registration dialog's steps on the command line, with the
// same serial number, record, duplicate rule, ledger and lock.
#include <ctime>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "ledger/LedgerFile.h"
#include "ledger/RegistrationLedger.h"
#include "protocol/CommandSet.h"
#include "ui/rules/DisplayText.h"
#include "ui/rules/SerialNumberDraft.h"

namespace varnel::cli {
namespace {

// The dialog's edit takes at most 8 characters.
constexpr std::size_t kSerialTextChars = 8;

std::size_t Utf8Characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
}

}  // namespace

ExitCode RunRegister(const CommandContext& ctx, const std::string& text, const std::string& ledgerPath) {
  std::string name;
  if (!SinglePort(ctx, name)) return ExitCode::BadInput;
  if (Utf8Characters(text) > kSerialTextChars) {
    Complain(ctx, "--text holds at most 8 characters (nothing was sent)");
    return ExitCode::BadInput;
  }
  // One instant for the record, the serial number and the time stamp.
  const std::time_t instant = std::time(nullptr);
  const auto [record, serial] = DraftSerialNumber(instant, text);

  StderrPresenter boxes(ctx.err);
  NotificationQueue ledgerPosts;  // the ledger posts nothing; its Operator needs a poster all the same
  const Operator ledgerOp{boxes, ledgerPosts};
  const std::filesystem::path file(std::u8string(ledgerPath.begin(), ledgerPath.end()));
  const RegistrationLedger ledger(ledgerOp, RegistrationLedger::kDefaultLockWait, file);
  // Refused up front, while nothing is sent: a number the ledger cannot hold,
  // or no ledger at all, would leave the sensor and the ledger disagreeing.
  if (!ledger.CheckStorable(serial)) return ExitCode::BadInput;
  const std::filesystem::path where = ledgerPath.empty() ? std::filesystem::path("Tallis.ini") : file;
  if (!ExistingRegularFile(where)) {
    Complain(ctx, "no ledger at " + where.string() + " (nothing was sent)");
    return ExitCode::LedgerRefused;
  }

  SensorPort port(name, boxes, ctx.dump);
  if (!port.Open()) {
    Complain(ctx, "cannot open " + name);
    return ExitCode::PortUnavailable;
  }
  const LinkFrame request = MakeRegisterSnRequest(record);
  // Sent under the ledger's lock; the answer is awaited after it is released.
  const RegisterOutcome outcome = ledger.Register(serial, FormatRegistrationTimestamp(instant), [&] {
    port.Events().Clear();
    port.Send(request);
  });
  if (outcome == RegisterOutcome::Duplicate) {
    Complain(ctx, DuplicateSerialText(serial));
    return ExitCode::LedgerRefused;
  }
  if (outcome == RegisterOutcome::LedgerBusy) return ExitCode::LedgerRefused;  // the ledger said who keeps it

  const std::optional<std::uint32_t> status = AwaitStatus(port, request.code, ctx.policy.timeout);
  const bool recorded = outcome == RegisterOutcome::Registered;
  if (ctx.json) {
    nlohmann::ordered_json json{{"port", name}, {"serial_number", serial}, {"recorded", recorded},
                                {"status", status && *status != kNoStatus ? nlohmann::ordered_json(*status) : nullptr},
                                {"text", status ? StatusText(*status) : "no answer"}};
    PrintLine(ctx, json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  } else {
    PrintLine(ctx, name + ": " + serial + (recorded ? " recorded" : " NOT recorded") + ", sensor: " +
                       (status ? StatusText(*status) : std::string("no answer")));
  }
  if (!recorded) return ExitCode::LedgerRefused;
  if (!status) {
    Complain(ctx, name + ": the sensor did not answer within " + std::to_string(ctx.policy.timeout.count()) + " ms");
    return ExitCode::NoAnswer;
  }
  return *status == 0 ? ExitCode::Ok : ExitCode::Refused;
}

}  // namespace varnel::cli
