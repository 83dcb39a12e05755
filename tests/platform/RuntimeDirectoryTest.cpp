// The runtime directory the simulated sensor publishes in and the program lists
// ports from: which one, and what is made of it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/RuntimeDirectory.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// Sets (or, with nullopt, removes) an environment variable for one scope.
class EnvGuard {
 public:
  EnvGuard(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1); else ::unsetenv(name);
  }
  ~EnvGuard() {
    if (old_) ::setenv(name_, old_->c_str(), 1); else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

unsigned Mode(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

class RuntimeDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnel-rt-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    user = ::getpwuid(::geteuid())->pw_name;
  }
  void TearDown() override { fs::remove_all(root); }
  fs::path root;
  std::string user;
};

TEST_F(RuntimeDirectoryTest, UsableXdgDirectoryIsTakenAndMadePrivate) {
  const fs::path xdg = root / "xdg";
  fs::create_directory(xdg);
  ::chmod(xdg.c_str(), 0755);
  EnvGuard env("XDG_RUNTIME_DIR", xdg.string());
  std::string problem, warning;
  EXPECT_EQ(UserRuntimeDirectory(&problem, &warning), xdg.string());
  EXPECT_EQ(Mode(xdg), 0700u);
  EXPECT_EQ(warning, "");
}

TEST_F(RuntimeDirectoryTest, WithoutAUsableXdgDirectoryTheCleanedTempFolderIsUsed) {
  std::ofstream(root / "not-a-dir") << "x";
  EnvGuard tmp("TMPDIR", root.string() + "//sub/..//");
  const std::string fallback = root.string() + "/runtime-" + user;
  for (const std::optional<std::string>& xdg : {std::optional<std::string>((root / "not-a-dir").string()),
                                               std::optional<std::string>()}) {
    EnvGuard env("XDG_RUNTIME_DIR", xdg);
    std::string problem, warning;
    EXPECT_EQ(UserRuntimeDirectory(&problem, &warning), fallback);
    EXPECT_EQ(Mode(fallback), 0700u);
    EXPECT_EQ(warning.empty(), !xdg.has_value()) << warning;
  }
  // A file where the fallback folder belongs: no directory, and why.
  fs::remove(fallback);
  std::ofstream(fallback) << "x";
  EnvGuard env("XDG_RUNTIME_DIR", std::nullopt);
  std::string problem;
  EXPECT_EQ(UserRuntimeDirectory(&problem), "");
  EXPECT_NE(problem.find("is not a directory"), std::string::npos) << problem;
}

TEST(CleanPathTest, CollapsesSeparatorsDotsAndATrailingSeparator) {
  EXPECT_EQ(CleanPath("/tmp//a/./b/../c/"), "/tmp/a/c");
  EXPECT_EQ(CleanPath("/.."), "/");
  EXPECT_EQ(CleanPath("a/../../b"), "../b");
  EXPECT_EQ(CleanPath("./"), ".");
}

}  // namespace
}  // namespace varnel
