#include "ui/rules/SerialNumberDraft.h"

#include "platform/CodePage.h"
#include "ui/rules/DisplayText.h"

namespace varnel {

std::tm LocalCalendarTime(std::time_t instant) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &instant) != 0) local = std::tm{};
#else
  if (localtime_r(&instant, &local) == nullptr) local = std::tm{};
#endif
  return local;
}

SerialNumberDraft DraftSerialNumber(std::time_t instant, std::string_view utf8Text) {
  const std::tm local = LocalCalendarTime(instant);
  SerialNumberDraft draft{MakeRegistrationRecord(local.tm_year + 1900, local.tm_mon + 1, Utf8ToCodePage(utf8Text)), {}};
  draft.serial = FormatSerialNumber(draft.record.year, draft.record.month, utf8Text);
  return draft;
}

}  // namespace varnel
