// A ledger that cannot be read or rewritten: the operator is told, and the file on disk is
// exactly what it was before.
#include "LedgerTestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnel::test {
namespace {

constexpr char kLedger[] = "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n";
constexpr char kStamp[] = "2019-07-05 09:31:40";

// Runs a store that must fail and checks that it changed nothing.
void ExpectStoreRefused(const std::string& serial) {
  const std::string before = ReadBytes("Tallis.ini");
  RegistrationLedger().AddRecord(serial, kStamp);
  EXPECT_EQ(ReadBytes("Tallis.ini"), before) << serial;
}

TEST_F(LedgerTest, FileThatIsNotLedgerTextIsRefusedUnchanged) {
  // The INI parser would stop at the NUL and a rewrite would drop the record after it.
  constexpr char kWithNul[] = "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n\0\r\n19-07-A0002 = x\r\n";
  const std::string withNul(kWithNul, sizeof kWithNul - 1);
  WriteBytes("Tallis.ini", withNul);
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
  ledger_.AddRecord("19-07-A0003", kStamp);
  ExpectWarning("Tallis.ini打开错误");
  EXPECT_EQ(ReadBytes("Tallis.ini"), withNul);
}

TEST_F(LedgerTest, FolderNamedLikeTheLedgerIsNotALedger) {
  fs::create_directory("Tallis.ini");
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
  ledger_.AddRecord("19-07-A0001", kStamp);
  ExpectWarning("Tallis.ini打开错误");
  EXPECT_TRUE(fs::is_directory("Tallis.ini"));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

TEST_F(LedgerTest, SerialNumberTheFileCannotHoldIsNotStored) {
  // Written out, "19-07-a=b" would read back as key 19-07-a, and a trailing blank
  // would be dropped: either would make the next lookup miss the record.
  WriteBytes("Tallis.ini", "[DID]\r\n19-07-a = 2019-07-01 08:00:00\r\n");
  for (const char* serial : {"19-07-a=b", "19-07-AB ", "19-07-AB\t"}) {
    ExpectStoreRefused(serial);
    ExpectWarning("Tallis.ini存储错误");
  }
  EXPECT_TRUE(ledger_.HasRecord("19-07-A"));
  ExpectNoMessage();
}

#ifndef _WIN32

// Whether this process can still create files in folder (true for root, whatever the mode).
bool CanCreateIn(const fs::path& folder) {
  const fs::path probe = folder / "probe";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

TEST_F(LedgerTest, ReadOnlyFolderKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  fs::permissions(root_, fs::perms(0555));
  if (CanCreateIn(root_)) GTEST_SKIP() << "folder permissions are not enforced for this user (root)";
  ExpectStoreRefused("19-07-A0002");
  ExpectWarning("Tallis.ini存储错误");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

TEST_F(LedgerTest, ReadOnlyFileKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  fs::permissions("Tallis.ini", fs::perms(0444));
  if (const int fd = ::open("Tallis.ini", O_WRONLY); fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "file permissions are not enforced for this user (root)";
  }
  ExpectStoreRefused("19-07-A0002");
  ExpectWarning("Tallis.ini存储错误");
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0001"));  // still readable
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

// A file size limit binds every user, root included: the new content is cut off half-way
// through the write, as on a full disk.
TEST_F(LedgerTest, WriteCutOffHalfWayKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 20;  // less than the new content, which is 78 bytes
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ledger_.AddRecord("19-07-A0002", kStamp);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  ExpectWarning("Tallis.ini存储错误");
  EXPECT_EQ(ReadBytes("Tallis.ini"), kLedger);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

// The temporary file beside the ledger is named after the process; something that cannot be
// removed standing under that name makes the rewrite fail, for root too.
TEST_F(LedgerTest, BlockedTemporaryFileKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  const std::string temp = "Tallis.ini.tmp-" + std::to_string(::getpid());
  fs::create_directory(temp);
  WriteBytes(fs::path(temp) / "keep", "x");
  ExpectStoreRefused("19-07-A0002");
  ExpectWarning("Tallis.ini存储错误");
  EXPECT_EQ(ReadBytes(fs::path(temp) / "keep"), "x");

  // A plain file left there by an earlier process with the same id is stale and replaced.
  fs::remove_all(temp);
  WriteBytes(temp, "stale");
  ledger_.AddRecord("19-07-A0002", kStamp);
  ExpectNoMessage();
  EXPECT_EQ(ReadBytes("Tallis.ini"), std::string(kLedger) + "19-07-A0002 = 2019-07-05 09:31:40\r\n");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

TEST_F(LedgerTest, PipeNamedLikeTheLedgerDoesNotHang) {
  ASSERT_EQ(::mkfifo("Tallis.ini", 0644), 0);
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
  ledger_.AddRecord("19-07-A0001", kStamp);
  ExpectWarning("Tallis.ini打开错误");
}

TEST_F(LedgerTest, RemovedCurrentDirectoryIsReported) {
  fs::create_directory("gone");
  fs::current_path("gone");
  fs::remove(root_ / "gone");
  EXPECT_FALSE(ledger_.HasRecord("19-07-A0001"));
  ExpectWarning("Tallis.ini读取错误");
  ledger_.AddRecord("19-07-A0001", kStamp);
  ExpectWarning("Tallis.ini打开错误");
}

TEST_F(LedgerTest, RewriteKeepsPermissionsAndSymbolicLink) {
  fs::create_directory("store");
  WriteBytes("store/ledger.ini", kLedger);
  fs::permissions("store/ledger.ini", fs::perms(0640));
  fs::create_symlink("store/ledger.ini", "Tallis.ini");
  ledger_.AddRecord("19-07-A0002", kStamp);
  ExpectNoMessage();
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status("Tallis.ini")));
  EXPECT_EQ(ReadBytes("store/ledger.ini"), std::string(kLedger) + "19-07-A0002 = 2019-07-05 09:31:40\r\n");
  EXPECT_EQ(fs::status("store/ledger.ini").permissions(), fs::perms(0640));
  EXPECT_EQ(fs::directory_iterator("store")->path().filename(), "ledger.ini");
  EXPECT_EQ(std::distance(fs::directory_iterator("store"), fs::directory_iterator()), 1);
}

#endif  // !_WIN32

}  // namespace
}  // namespace varnel::test
