// Fuzz target for the registration ledger: arbitrary bytes as "Tallis.ini", then a lookup
// and a store through the real file code.
//
// Invariants:
//  - no crash and no memory error, whatever the file holds (AddressSanitizer watches);
//  - a record the lookup found before is still found after another serial number is stored;
//  - a store either shows no message, and the stored serial number is then found, or
//    shows exactly one message and leaves the file byte for byte as it was;
//  - a file the lookup could not read is refused by the store as well.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ledger/RegistrationLedger.h"
#include "platform/Operator.h"
#include "tests/support/MessageRecorder.h"

namespace {

namespace fs = std::filesystem;

// Answers every box at once and only counts them.
class CountingPresenter final : public varnel::MessagePresenter {
 public:
  varnel::MessageAnswer Show(const std::string&, const std::string&, varnel::MessageButtons,
                             varnel::MessageOwner) override {
    ++shown;
    return varnel::MessageAnswer::Ok;
  }
  int shown = 0;  // the fuzzer runs on one thread
};

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "ledger invariant broken: %s\n", what);
  std::abort();
}

std::string ReadLedger() {
  std::ifstream in("Tallis.ini", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path g_folder;
CountingPresenter g_presenter;

void RemoveFolder() {
  std::error_code ignored;
  fs::current_path(fs::temp_directory_path(), ignored);
  fs::remove_all(g_folder, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A folder of its own as the current directory; tmpfs when there is one, as every
  // store flushes the file to the disk.
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "varnel-ledger-fuzz-XXXXXX").string();
  Require(::mkdtemp(pattern.data()) != nullptr, "temporary folder");
  g_folder = pattern;
  fs::current_path(g_folder);
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string probe = input.ConsumeRandomLengthString(24);
  const std::string added = input.ConsumeRandomLengthString(24);
  const std::string content = input.ConsumeRemainingBytesAsString();
  {
    std::ofstream out("Tallis.ini", std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    Require(out.good(), "writing the input file");
  }

  CountingPresenter& presenter = g_presenter;
  varnel::test::NoWindows noWindows;
  const varnel::RegistrationLedger ledger(varnel::Operator{g_presenter, noWindows});

  presenter.shown = 0;
  const bool foundBefore = ledger.HasRecord(probe);
  const bool readable = presenter.shown == 0;
  Require(presenter.shown <= 1, "one message per lookup");

  presenter.shown = 0;
  ledger.AddRecord(added, "2019-07-05 09:30:12");
  const int storeMessages = presenter.shown;
  Require(storeMessages <= 1, "one message per store");
  Require(readable || storeMessages == 1, "an unreadable file is refused by the store");
  if (storeMessages == 1) Require(ReadLedger() == content, "a failed store changed the file");

  presenter.shown = 0;
  if (storeMessages == 0) Require(ledger.HasRecord(added), "a stored record is found");
  if (foundBefore) Require(ledger.HasRecord(probe), "a record found before the store was lost");
  Require(presenter.shown == 0, "a stored ledger reads back without messages");
  return 0;
}
