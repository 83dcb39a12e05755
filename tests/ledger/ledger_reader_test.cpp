// What the ledger writes is read back by an INI parser that shares no code with it.
#include <cstdio>
#include <map>

#include "LedgerTestSupport.h"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace varnel::test {
namespace {

// Runs the independent reader on the ledger in the current directory: its records by key.
std::map<std::string, std::string> ReadWithConfigParser() {
  const std::string command = std::string("\"") + VARNEL_PYTHON + "\" \"" + LEDGER_READER_SCRIPT + "\" Tallis.ini";
#ifdef _WIN32
  // cmd.exe drops the outermost pair of quotes of a command that holds several.
  const std::string line = "\"" + command + "\"";
#else
  const std::string& line = command;
#endif
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return {};
  }
  std::string output;
  char buffer[512];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0) << "the reader refused the ledger:\n" << output;

  std::map<std::string, std::string> records;
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = output.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "unexpected reader line: " << line;
      continue;
    }
    records[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return records;
}

TEST_F(LedgerTest, IndependentIniParserReadsWhatTheLedgerWrote) {
  if (std::string(VARNEL_PYTHON).empty()) GTEST_SKIP() << "no Python interpreter was found at configure time";
  WriteBytes("Tallis.ini", "; line 3 ledger\r\n[misc]\r\nport = COM3\r\n");
  ledger_.AddRecord("19-07-A0001", "2019-07-05 09:30:12");
  ledger_.AddRecord("19-07-AB12", "2019-07-05 09:31:40");
  ledger_.AddRecord("19-07-测试", "2019-07-05 09:32:05");
  ledger_.AddRecord("19-08-", "2019-08-01 00:00:00");
  ledger_.AddRecord("19-07-A0001", "2019-07-06 10:00:00");
  ledger_.AddRecord("19-07-ab12", "2019-07-06 10:00:01");
  ExpectNoMessage();

  // The reader folds keys to lower case; ours are compared without regard to case anyway.
  const std::map<std::string, std::string> expected{
      {"19-07-a0001", "2019-07-06 10:00:00"},
      {"19-07-ab12", "2019-07-06 10:00:01"},
      {"19-07-测试", "2019-07-05 09:32:05"},
      {"19-08-", "2019-08-01 00:00:00"},
  };
  EXPECT_EQ(ReadWithConfigParser(), expected);
}

}  // namespace
}  // namespace varnel::test
