#pragma once
// A production serial number before it is registered: the record the sensor
// is sent and the number the ledger keeps, both dated from one instant, so a
// registration just after midnight at a month's end cannot mix two months.
#include <ctime>
#include <string>
#include <string_view>

#include "protocol/CommandSet.h"

namespace varnel {

// The local calendar time of instant; a time the system cannot convert (out of
// its range) reads as all-zero fields instead of leaving them undefined.
std::tm LocalCalendarTime(std::time_t instant);

struct SerialNumberDraft {
  RegistrationRecord record;  // for the sensor: year byte, month, text in the code page
  std::string serial;         // for the ledger: "YY-MM-text", UTF-8
};

// The year byte keeps only the low 8 bits of year - 2000: from 2100 the prefix
// has three digits, after 2255 (or with a clock set before 2000) it wraps. The
// serial number is formed from the record's own bytes, so the sensor, the
// ledger and the prefix the dialog shows agree whatever the year.
SerialNumberDraft DraftSerialNumber(std::time_t instant, std::string_view utf8Text);

}  // namespace varnel
