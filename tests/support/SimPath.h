#pragma once
// The name the simulated sensor knows a file of this test by. The simulator is
// a Linux program, also when the test program runs under wine: there a path of
// the test's (C:\..., Z:\...) is turned into the Linux path wine keeps it at.
#include <filesystem>
#include <string>

namespace varnel::test {

// "" when the path has no Linux name.
std::string SimSidePath(const std::filesystem::path& path);

}  // namespace varnel::test
