#pragma once
// A folder of its own for one test, made fresh under the system's temporary
// folder and removed with everything in it when the test is done.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace varnel::test {

class TempFolder {
 public:
  explicit TempFolder(const std::string& stem = "varnel-test") {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return;
    std::random_device entropy;
    // A name another test already took is simply drawn again.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = base / (stem + "-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
  }
  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool Made() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;  // empty when no folder could be made
};

}  // namespace varnel::test
