// A ledger that cannot be read or rewritten: the operator is told, and the file on disk is
// exactly what it was before.
#include "LedgerTestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>


#include "platform/StopSignals.h"
#endif

namespace varnel::test {
namespace {

constexpr char kLedger[] = "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n";
constexpr char kStamp[] = "2019-07-05 09:31:40";
constexpr char kFolderRefused[] = "Tallis.ini存储错误：所在文件夹不允许替换此文件，请检查该文件夹的权限";

// Runs a store that must fail and checks that it changed nothing.
void ExpectStoreRefused(const RegistrationLedger& ledger, const std::string& serial) {
  const std::string before = ReadBytes("Tallis.ini");
  ledger.AddRecord(serial, kStamp);
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
    ExpectStoreRefused(ledger_, serial);
    ExpectWarning("Tallis.ini存储错误");
  }
  EXPECT_TRUE(ledger_.HasRecord("19-07-A"));
  ExpectNoMessage();
}

TEST_F(LedgerTest, TextThatWouldNotReadBackIsNamedBeforeAnythingIsStored) {
  const struct {
    const char* serial;
    const char* message;  // empty: storable
  } cases[] = {
      {"19-07-AB ", "序列号末尾的字符空格(U+0020)无法记入Tallis.ini，不能注册，请修改序列号"},
      {"19-07-a=b", "序列号中的字符\"=\"(U+003D)无法记入Tallis.ini，不能注册，请修改序列号"},
      {"19-07-A\tB", "序列号中的字符制表符(U+0009)无法记入Tallis.ini，不能注册，请修改序列号"},
      {"19-07-A\nB", "序列号中的字符(U+000A)无法记入Tallis.ini，不能注册，请修改序列号"},
      // No GBK form: it would be stored and sent as "?", the same as another number.
      {"19-07-Aก", "序列号中的字符\"ก\"(U+0E01)无法用系统代码页表示，不能注册，请修改序列号"},
      {"19-07-😀", "序列号中的字符\"😀\"(U+1F600)无法用系统代码页表示，不能注册，请修改序列号"},
      {"19-07-A B", ""},
      {"19-07-中?", ""},
      {"19-07-", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    EXPECT_EQ(ledger_.CheckStorable(c.serial), *c.message == '\0');
    if (*c.message) {
      ExpectWarning(c.message);
    } else {
      ExpectNoMessage();
    }
  }
  EXPECT_TRUE(FolderEntries().empty());  // checked without the ledger: nothing touched
}

#ifndef _WIN32

// In a child: drops root's privileges for those of nobody, whom the folder's permissions bind.
bool BecomeNobody() {
  constexpr id_t kNobody = 65534;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Exit codes of the children below.
constexpr int kAsExpected = 0;
constexpr int kNoPrivilegeToDrop = 10;
constexpr int kOtherMessages = 11;
constexpr int kFolderUnreachable = 12;

TEST_F(LedgerTest, FolderThatRefusesTheReplacementSaysSo) {
  // A read-only folder, and a shared folder with the sticky bit where the ledger belongs to
  // someone else: the file itself may be written, but not replaced.
  for (const fs::perms folderMode : {fs::perms(0555), fs::perms(01777)}) {
    SCOPED_TRACE(static_cast<int>(folderMode));
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::replace);
    WriteBytes("Tallis.ini", kLedger);
    fs::permissions("Tallis.ini", fs::perms(0666));
    fs::permissions(root_, folderMode);
    const ChildEnd end = InChild([this] {
      if (::geteuid() == 0 && !BecomeNobody()) return kNoPrivilegeToDrop;
      if (::access((root_ / "Tallis.ini").c_str(), R_OK) != 0) return kFolderUnreachable;
      ledger_.AddRecord("19-07-A0002", kStamp);
      return messages_.Texts() == std::vector<std::string>{kFolderRefused} ? kAsExpected : kOtherMessages;
    });
    if (end.code == kNoPrivilegeToDrop) GTEST_SKIP() << "cannot run the store as an ordinary user";
    if (end.code == kFolderUnreachable) {
      GTEST_SKIP() << "an ordinary user cannot reach " << root_ << " (is the temporary folder private?)";
    }
    EXPECT_TRUE(end.exited && end.code == kAsExpected) << "exit " << end.code << ", signal " << end.signal;
    EXPECT_EQ(ReadBytes("Tallis.ini"), kLedger);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
  }
}

TEST_F(LedgerTest, ReadOnlyFileKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  fs::permissions("Tallis.ini", fs::perms(0444));
  if (const int fd = ::open("Tallis.ini", O_WRONLY); fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "file permissions are not enforced for this user (root)";
  }
  ExpectStoreRefused(ledger_, "19-07-A0002");
  ExpectWarning("Tallis.ini存储错误");
  EXPECT_TRUE(ledger_.HasRecord("19-07-A0001"));  // still readable
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Tallis.ini"});
}

// A file size limit binds every user, root included: the new content is cut off half-way
// through the write, as on a full disk. With the signal that limit raises ignored, as the
// program does, the store fails with a message instead of killing the process mid-rewrite.
TEST_F(LedgerTest, WriteCutOffHalfWayKeepsTheOldLedger) {
  WriteBytes("Tallis.ini", kLedger);
  const ChildEnd end = InChild([this] {
    IgnoreWriteSignals();
    rlimit small{};
    ::getrlimit(RLIMIT_FSIZE, &small);
    small.rlim_cur = 20;  // less than the new content, which is 78 bytes
    ::setrlimit(RLIMIT_FSIZE, &small);
    ledger_.AddRecord("19-07-A0002", kStamp);
    return messages_.Texts() == std::vector<std::string>{"Tallis.ini存储错误"} ? kAsExpected : kOtherMessages;
  });
  EXPECT_TRUE(end.exited) << "killed by signal " << end.signal;
  EXPECT_EQ(end.code, kAsExpected);
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
  ExpectStoreRefused(ledger_, "19-07-A0002");
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
