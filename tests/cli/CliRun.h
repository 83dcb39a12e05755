#pragma once
// varnel-cli run to its end with a deadline: its exit code, standard output
// and standard error; and a folder of the test's own for images and ledgers.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace varnel::test {

struct CliResult {
  bool ended = false;  // within the deadline
  int code = -1;
  std::string out;
  std::string err;
};

CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds within = std::chrono::seconds(30));

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace varnel::test
