#pragma once
// Every ledger test runs in a fresh folder of its own as the current directory, with the
// operator's message boxes recorded instead of shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "platform/Operator.h"
#include "tests/support/MessageRecorder.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#endif

namespace varnel::test {

namespace fs = std::filesystem;


inline void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifndef _WIN32
// How a child process ended.
struct ChildEnd {
  bool exited;
  int code;    // when exited
  int signal;  // when killed
};

// Runs body in a child process, for a store that may kill its process or must run without
// root's privileges; the child's exit code is body's answer.
inline ChildEnd InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

#endif

class LedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::random_device random;
    root_ = fs::temp_directory_path() / ("varnel-ledger-" + std::to_string(random()) + "-" +
                                         std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(root_));
    fs::current_path(root_);
  }

  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }

  // Expects exactly one warning box with text since the last check, and forgets it.
  void ExpectWarning(const std::string& text) {
    const std::vector<RecordedBox> all = messages_.Boxes();
    ASSERT_EQ(all.size(), 1u) << "expected the single warning " << text;
    const RecordedBox& shown = all.front();
    EXPECT_EQ(shown.text, text);
    EXPECT_EQ(shown.caption, "警告");
    EXPECT_EQ(shown.buttons, MessageButtons::Ok);
    EXPECT_EQ(shown.owner, MessageOwner::ActiveDialog);
    messages_.Clear();
  }

  void ExpectNoMessage() {
    for (const RecordedBox& shown : messages_.Boxes()) ADD_FAILURE() << "unexpected message " << shown.text;
    messages_.Clear();
  }

  // The names in the test's folder, to see that nothing was left behind.
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
#ifdef _WIN32
      // Windows keeps the ledger's lock file: removing a file that others may have open
      // would leave them unable to open it while the removal is pending.
      if (entry.path().filename() == "Tallis.ini.lock") continue;
#endif
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path previous_;
  fs::path root_;
  MessageRecorder messages_;
  RegistrationLedger ledger_{messages_.AsOperator()};
};

}  // namespace varnel::test
