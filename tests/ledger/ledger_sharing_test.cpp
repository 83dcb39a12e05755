// Stations sharing one ledger: a registration holds the ledger's lock from its duplicate
// check to its record; a rewrite holding it clears what killed rewrites left behind.
#include <set>
#include <sstream>

#include "LedgerTestSupport.h"
#include "platform/LockFile.h"

namespace varnel::test {
namespace {

constexpr char kLedger[] = "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n";
constexpr char kStamp[] = "2019-07-05 09:31:40";

TEST_F(LedgerTest, LedgerKeptByAnotherStationIsNamedAndNothingIsStored) {
  WriteBytes("Tallis.ini", kLedger);
  const LockFile other = LockFile::Acquire(root_ / "Tallis.ini.lock", std::chrono::milliseconds(0));
  ASSERT_EQ(other.Status(), LockFile::State::Held);
  const RegistrationLedger ledger(messages_.AsOperator(), std::chrono::milliseconds(50));

  const std::string holder = LockHolderText();
  const std::string expected = "Tallis.ini正被主机" + holder.substr(0, holder.rfind(' ')) + "上的进程" +
                               holder.substr(holder.rfind(' ') + 1) + "使用，等待1秒后仍未释放。本次未注册，请稍后再试";
  EXPECT_FALSE(ledger.Lock());
  ExpectWarning(expected);
  ledger.AddRecord("19-07-A0002", kStamp);
  ExpectWarning(expected);
  EXPECT_EQ(ReadBytes("Tallis.ini"), kLedger);
}

TEST_F(LedgerTest, RewriteClearsWhatKilledRewritesLeftBehind) {
  WriteBytes("Tallis.ini", kLedger);
  // Full copies left by rewrites killed before their rename, under other processes' ids.
  WriteBytes("Tallis.ini.tmp-4242", kLedger);
  WriteBytes("Tallis.ini.tmp-17", std::string(kLedger) + "19-07-A0009 = 2019-07-05 09:31:00\r\n");
  // Not of that pattern, or not a plain file: someone else's, kept.
  WriteBytes("Tallis.ini.tmp-notes", "x");
  WriteBytes("Other.ini.tmp-4242", "x");
  fs::create_directory("Tallis.ini.tmp-99");

  ledger_.AddRecord("19-07-A0002", kStamp);
  ExpectNoMessage();
  EXPECT_EQ(ReadBytes("Tallis.ini"), std::string(kLedger) + "19-07-A0002 = 2019-07-05 09:31:40\r\n");
  EXPECT_EQ(FolderEntries(),
            (std::vector<std::string>{"Other.ini.tmp-4242", "Tallis.ini", "Tallis.ini.tmp-99", "Tallis.ini.tmp-notes"}));
}

TEST_F(LedgerTest, RegistrationWritesTheSensorOnlyForANumberNotYetRecorded) {
  WriteBytes("Tallis.ini", kLedger);
  int writes = 0;
  EXPECT_EQ(ledger_.Register("19-07-a0001", kStamp, [&] { ++writes; }), RegisterOutcome::Duplicate);
  EXPECT_EQ(writes, 0);
  EXPECT_EQ(ledger_.Register("19-07-A0002", kStamp, [&] { ++writes; }), RegisterOutcome::Registered);
  EXPECT_EQ(writes, 1);
  ExpectNoMessage();
  EXPECT_EQ(ReadBytes("Tallis.ini"), std::string(kLedger) + "19-07-A0002 = 2019-07-05 09:31:40\r\n");

  // A ledger elsewhere, named by its path, is the one used; the current folder's is left alone.
  WriteBytes(root_ / "elsewhere.ini", "[DID]\r\n");
  const RegistrationLedger named(messages_.AsOperator(), RegistrationLedger::kDefaultLockWait, root_ / "elsewhere.ini");
  EXPECT_EQ(named.Register("19-07-A0001", kStamp, [&] { ++writes; }), RegisterOutcome::Registered);
  EXPECT_EQ(ReadBytes(root_ / "elsewhere.ini"), "[DID]\r\n19-07-A0001 = 2019-07-05 09:31:40\r\n");
  EXPECT_EQ(ReadBytes("Tallis.ini"), std::string(kLedger) + "19-07-A0002 = 2019-07-05 09:31:40\r\n");
}

TEST_F(LedgerTest, RegistrationThatCannotBeRecordedSaysSoAndStillWritesTheSensor) {
  int writes = 0;  // no ledger file at all: the dialog's behaviour, the number still goes out
  EXPECT_EQ(ledger_.Register("19-07-A0002", kStamp, [&] { ++writes; }), RegisterOutcome::NotRecorded);
  EXPECT_EQ(writes, 1);
  EXPECT_FALSE(messages_.Boxes().empty());
  messages_.Clear();
}

#ifndef _WIN32

// One station: registers each number the way the registration dialog does, and writes the
// numbers it found already recorded to refusedFile. Exit code: 0, or the count of messages.
int RegisterAll(const std::vector<std::string>& serials, const fs::path& refusedFile, int startFd,
                MessageRecorder& messages) {
  char go = 0;
  if (::read(startFd, &go, 1) != 1) return 100;
  const RegistrationLedger ledger(messages.AsOperator());
  std::ofstream refused(refusedFile);
  for (const std::string& serial : serials) {
    const LedgerLock lock = ledger.Lock();
    if (!lock) return 101;
    if (ledger.HasRecord(serial)) {
      refused << serial << "\n";
      continue;
    }
    ledger.AddRecord(lock, serial, kStamp);
  }
  return static_cast<int>(std::min<std::size_t>(messages.Boxes().size(), 99));
}

std::multiset<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::multiset<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

TEST_F(LedgerTest, TwoStationsRegisteringAtOnceLoseNothing) {
  WriteBytes("Tallis.ini", "");
  // 200 numbers each; 40 in both lists, in the same order, so the two meet on them.
  std::vector<std::string> first, second;
  std::set<std::string> shared;
  for (int i = 0; i < 200; ++i) {
    first.push_back("19-07-S" + std::to_string(1000 + i));
    const bool both = i % 5 == 0;
    second.push_back("19-07-" + std::string(both ? "S" : "T") + std::to_string(1000 + i));
    if (both) shared.insert(second.back());
  }
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> children;
  for (const auto* serials : {&first, &second}) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      const fs::path out = root_ / ("refused-" + std::to_string(::getpid()));
      ::_exit(RegisterAll(*serials, out, start[0], messages_));
    }
    children.push_back(pid);
  }
  ::close(start[0]);
  ASSERT_EQ(::write(start[1], "gg", 2), 2);  // both start at the same moment
  ::close(start[1]);
  std::multiset<std::string> refused;
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "station ended with status " << status;
    const fs::path out = root_ / ("refused-" + std::to_string(pid));
    for (const std::string& serial : Lines(out)) refused.insert(serial);
    fs::remove(out);
  }

  // Each shared number was refused exactly once, by whichever station came second.
  EXPECT_EQ(refused, std::multiset<std::string>(shared.begin(), shared.end()));
  // Every distinct number is recorded exactly once, in the layout of a single station.
  const std::string ledger = ReadBytes("Tallis.ini");
  ASSERT_EQ(ledger.rfind("[DID]\r\n", 0), 0u);
  std::multiset<std::string> keys;
  std::istringstream lines(ledger.substr(7));
  const std::string value = std::string(" = ") + kStamp + "\r";
  for (std::string line; std::getline(lines, line);) {
    ASSERT_GT(line.size(), value.size());
    ASSERT_EQ(line.substr(line.size() - value.size()), value) << line;
    keys.insert(line.substr(0, line.size() - value.size()));
  }
  std::multiset<std::string> expected(first.begin(), first.end());
  for (const std::string& serial : second) {
    if (!shared.count(serial)) expected.insert(serial);
  }
  EXPECT_EQ(keys.size(), 360u);
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

#endif  // !_WIN32

}  // namespace
}  // namespace varnel::test
