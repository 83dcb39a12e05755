// The registration time stamp: local time of one instant, "%Y-%m-%d %H:%M:%S".
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "ledger/RegistrationLedger.h"

namespace varnel {
namespace {

// Sets the time zone for one test and restores the previous one afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    Set(zone);
  }
  ~TimeZone() {
    if (previous_) {
      Set(previous_->c_str());
    } else {
#ifdef _WIN32
      _putenv_s("TZ", "");
#else
      unsetenv("TZ");
#endif
      Tzset();
    }
  }

 private:
  static void Set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
#else
    setenv("TZ", zone, 1);
#endif
    Tzset();
  }
  static void Tzset() {
#ifdef _WIN32
    _tzset();
#else
    tzset();
#endif
  }
  std::optional<std::string> previous_;
};

TEST(RegistrationTimestamp, FormatsTheInstantInLocalTime) {
  {
    TimeZone utc("UTC");
    EXPECT_EQ(FormatRegistrationTimestamp(1562319012), "2019-07-05 09:30:12");
    EXPECT_EQ(FormatRegistrationTimestamp(946684800), "2000-01-01 00:00:00");
  }
  TimeZone beijing("CST-8");
  EXPECT_EQ(FormatRegistrationTimestamp(1562319012), "2019-07-05 17:30:12");
  // Midnight at the end of July, local time: one second decides the month.
  EXPECT_EQ(FormatRegistrationTimestamp(1564588799), "2019-07-31 23:59:59");
  EXPECT_EQ(FormatRegistrationTimestamp(1564588800), "2019-08-01 00:00:00");
}

}  // namespace
}  // namespace varnel
