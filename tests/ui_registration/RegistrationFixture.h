#pragma once
// Shared ground for the registration tests: local time is UTC so dates are
// predictable, and the current directory is a fresh folder where the ledger
// lives (or does not) for the one test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

namespace varnel::test {

class RegistrationFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz) savedTz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
    savedDir_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "varnel-reg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::current_path(folder_);
  }

  void TearDown() override {
    std::filesystem::current_path(savedDir_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  std::filesystem::path LedgerPath() const { return folder_ / "Tallis.ini"; }

  void WriteLedger(const std::string& bytes) const {
    std::ofstream out(LedgerPath(), std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // The ledger's bytes, or nothing when the file does not exist.
  std::optional<std::string> ReadLedger() const {
    std::ifstream in(LedgerPath(), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Seconds since the epoch of a UTC calendar time.
  static std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
  }

 private:
  std::filesystem::path savedDir_;
  std::filesystem::path folder_;
  std::optional<std::string> savedTz_;
};

}  // namespace varnel::test
