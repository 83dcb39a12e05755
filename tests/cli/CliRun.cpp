#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/ChildProcess.h"

namespace varnel::test {

CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds within) {
  ScratchFolder folder;
  const std::filesystem::path out = folder.Path() / "stdout";
  ChildOptions options;
  options.args = {VARNEL_CLI_EXECUTABLE};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.files = {{STDOUT_FILENO, out.string()}};
  options.collectErrors = true;
  ChildProcess child(std::move(options));
  CliResult result;
  result.ended = child.WaitForExit(within);
  result.code = child.ExitCode();
  result.err = child.Errors();
  result.out = folder.Read("stdout");
  return result;
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/varnel-cli-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  if (made) path_ = made;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string ScratchFolder::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace varnel::test
