#pragma once
// Dates a test can predict: local time is UTC while a ScopedUtcZone lives, and
// UtcTime turns a UTC calendar time into the instant the product's clock answers.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace varnel::test {

class ScopedUtcZone {
 public:
  ScopedUtcZone() {
    if (const char* zone = std::getenv("TZ")) saved_ = zone;
    Set("UTC0");  // a zone name with its offset, which both C runtimes read the same
  }
  ~ScopedUtcZone() {
    if (saved_) {
      Set(saved_->c_str());
    } else {
      Unset();
    }
  }
  ScopedUtcZone(const ScopedUtcZone&) = delete;
  ScopedUtcZone& operator=(const ScopedUtcZone&) = delete;

 private:
  static void Set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
    _tzset();
#else
    setenv("TZ", zone, 1);
    tzset();
#endif
  }
  static void Unset() {
#ifdef _WIN32
    _putenv_s("TZ", "");  // an empty value removes the variable
    _tzset();
#else
    unsetenv("TZ");
    tzset();
#endif
  }

  std::optional<std::string> saved_;
};

// Seconds since the epoch of a UTC calendar time.
inline std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
#ifdef _WIN32
  return _mkgmtime(&t);
#else
  return timegm(&t);
#endif
}

}  // namespace varnel::test
