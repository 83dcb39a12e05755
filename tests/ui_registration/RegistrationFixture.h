#pragma once
// Shared ground for the registration tests: local time is UTC so dates are
// predictable, and the current directory is a fresh folder where the ledger
// lives (or does not) for the one test.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/TempFolder.h"
#include "tests/support/UtcClock.h"

namespace varnel::test {

class RegistrationFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedDir_ = std::filesystem::current_path();
    ASSERT_TRUE(folder_.Made());
    std::filesystem::current_path(folder_.Path());
  }

  // Leaves the folder before it is removed (a current directory cannot be removed on Windows).
  void TearDown() override { std::filesystem::current_path(savedDir_); }

  std::filesystem::path LedgerPath() const { return folder_.Path() / "Tallis.ini"; }

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

  static std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    return UtcTime(year, month, day, hour, minute, second);
  }

 private:
  ScopedUtcZone utc_;
  TempFolder folder_{"varnel-reg"};
  std::filesystem::path savedDir_;
};

}  // namespace varnel::test
