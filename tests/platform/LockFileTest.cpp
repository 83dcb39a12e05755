// The lock between processes: flock locks belong to open files, so two objects in one
// process contend exactly as two processes would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/LockFile.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

TEST(LockFileTest, SecondTakerIsToldTheHolderAndGetsTheLockOnceItIsReleased) {
  char pattern[] = "/tmp/varnel-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  const fs::path path = folder / "Tallis.ini.lock";
  {
    LockFile first = LockFile::Acquire(path, milliseconds(0));
    ASSERT_EQ(first.Status(), LockFile::State::Held);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), LockHolderText() + "\n");

    const LockFile second = LockFile::Acquire(path, milliseconds(60));
    EXPECT_EQ(second.Status(), LockFile::State::Busy);
    EXPECT_EQ(second.Holder(), LockHolderText());
    EXPECT_EQ(LockHolderText(), [] {
      char host[256] = {};
      ::gethostname(host, sizeof host - 1);
      return std::string(host) + " " + std::to_string(::getpid());
    }());
  }
  EXPECT_FALSE(fs::exists(path)) << "the holder removes the file when it lets go";
  EXPECT_EQ(LockFile::Acquire(path, milliseconds(0)).Status(), LockFile::State::Held);

  fs::remove(path);
  EXPECT_EQ(LockFile::Acquire(folder / "absent" / "x.lock", milliseconds(0)).Status(), LockFile::State::Unavailable);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace varnel
