// The trace printed for every frame: exact text, CR LF line ends.
#include "link/TrafficDump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "link/TrafficWriter.h"
#include "tests/support/TrafficCapture.h"

#ifdef __linux__
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

const std::string kRule = "------------------------------------\r\n";

std::string Format(const std::vector<std::uint8_t>& bytes, const char* label) {
  return FormatTraffic(bytes.data(), static_cast<int>(bytes.size()), label);
}

TEST(TrafficDumpTest, IdentityRequestGivesTheFiveLineDump) {
  const std::string expected =
      "------------------------------------\r\n"
      "[Desc ] SendData\r\n"
      "[HEX-8] (len: 10)\r\n"
      "BB BB BB BB 01 01 00 00    ........\r\n"
      "AE AB                      ..\r\n";
  EXPECT_EQ(Format({0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}, "SendData"), expected);
}

TEST(TrafficDumpTest, EmptyRunHasNoRowsAndNoAsciiBlock) {
  const std::uint8_t unused = 0x41;
  EXPECT_EQ(FormatTraffic(&unused, 0, "RecvData"), kRule + "[Desc ] RecvData\r\n[HEX-8] (len: 0)\r\n");
}

TEST(TrafficDumpTest, NoLabelMeansNoDescLine) {
  EXPECT_EQ(Format({0x00}, nullptr), kRule + "[HEX-8] (len: 1)\r\n00                         .\r\n");
}

TEST(TrafficDumpTest, RowsBreakAfterEightBytesAndKeepTheirWidth) {
  const std::string eight = Format({1, 2, 3, 4, 5, 6, 7, 8}, nullptr);
  EXPECT_EQ(eight, kRule + "[HEX-8] (len: 8)\r\n01 02 03 04 05 06 07 08    ........\r\n");
  const std::string nine = Format({1, 2, 3, 4, 5, 6, 7, 8, 9}, nullptr);
  EXPECT_EQ(nine, kRule +
                      "[HEX-8] (len: 9)\r\n"
                      "01 02 03 04 05 06 07 08    ........\r\n"
                      "09                         .\r\n");
}

TEST(TrafficDumpTest, PrintableRunGetsTheAsciiBlock) {
  EXPECT_EQ(Format({'A', 'B', 'C', 'D'}, "x"), kRule +
                                                    "[Desc ] x\r\n"
                                                    "[ASCII]\r\n"
                                                    "ABCD\r\n"
                                                    "[HEX-8] (len: 4)\r\n"
                                                    "41 42 43 44                ABCD\r\n");
}

TEST(TrafficDumpTest, DeleteIsADotAndBlankStaysABlank) {
  // 0x7F makes the run unprintable, so there is no ASCII block either.
  EXPECT_EQ(Format({0x7F, 0x20, 0x7E, 0x1F}, nullptr),
            kRule + "[HEX-8] (len: 4)\r\n7F 20 7E 1F                . ~.\r\n");
}

TEST(TrafficDumpTest, NoLogMeansNoDump) {
  const std::vector<std::uint8_t> bytes = {0xAA, 0x41};
  DumpTraffic(nullptr, bytes.data(), 2, "RecvData");  // must simply do nothing
}

#ifdef __linux__
// The program's writer: what it puts out, and how it copes with a reader that
// falls behind or goes away. The pipes are the tool's standard output.
struct Pipe {
  Pipe() {
    if (::pipe2(fds, O_CLOEXEC) == 0) ::fcntl(fds[0], F_SETPIPE_SZ, 4096);  // fills after one page
  }
  ~Pipe() {
    CloseReadEnd();
    if (fds[1] >= 0) ::close(fds[1]);
  }
  void CloseReadEnd() {
    if (fds[0] >= 0) ::close(fds[0]);
    fds[0] = -1;
  }
  // Reads until the text holds want or 10 s have passed.
  std::string ReadUntil(const std::string& want) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  int fds[2] = {-1, -1};
};

const std::vector<std::uint8_t> kIdentity = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB};

TEST(TrafficWriterTest, EachDumpGoesOutWholeAndUnchanged) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  TrafficWriter writer(::fileno(file), stderr);
  DumpTraffic(&writer, kIdentity.data(), 10, "SendData");
  writer.Write("Ota file chunk 3\n");
  ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
  // Out of the process already: nothing is left in a buffer of its own.
  std::string written(4096, '\0');
  written.resize(static_cast<std::size_t>(::pread(::fileno(file), written.data(), written.size(), 0)));
  EXPECT_EQ(written, Format(kIdentity, "SendData") + "Ota file chunk 3\n");
  writer.Close(std::chrono::seconds(1));
  std::fclose(file);
}

TEST(TrafficWriterTest, AFullQueueDropsWholeDumpsAndSaysHowManyLinesOnceWritingGoesOn) {
  Pipe out;
  ASSERT_GE(out.fds[0], 0);
  TrafficWriter writer(out.fds[1], stderr, 4096);
  const std::string dump = Format(kIdentity, "SendData");  // 5 lines
  // Nobody reads: the pipe fills, then the queue; every call still comes back.
  for (int i = 0; i < 10000 && writer.DroppedLines() < 15; ++i) writer.Write(dump);
  const std::uint64_t dropped = writer.DroppedLines();
  ASSERT_GE(dropped, 15u);
  EXPECT_EQ(dropped % 5, 0u) << "only whole dumps are dropped";

  auto read = std::async(std::launch::async, [&] { return out.ReadUntil("after\r\n"); });
  ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));  // reading frees the writer
  writer.Write("after\r\n");
  const std::string rest = read.get();
  const std::string notice = "[Lost ] " + std::to_string(dropped) + " lines (the trace was not being read)\r\n";
  const auto at = rest.find(notice + "after\r\n");
  ASSERT_NE(at, std::string::npos) << rest.substr(rest.size() > 300 ? rest.size() - 300 : 0);
  ASSERT_EQ(at % dump.size(), 0u) << "a dump before the notice was cut";
  for (std::size_t i = 0; i < at; i += dump.size()) ASSERT_EQ(rest.compare(i, dump.size(), dump), 0) << i;
}

TEST(TrafficWriterTest, AReaderThatGoesAwayEndsTheTraceWithOneLineAndNothingElse) {
  Pipe out;
  ASSERT_GE(out.fds[0], 0);
  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  TrafficWriter writer(out.fds[1], errors);
  out.CloseReadEnd();
  // Without a handler of its own for SIGPIPE this process would die here.
  for (int i = 0; i < 100; ++i) DumpTraffic(&writer, kIdentity.data(), 10, "SendData");
  ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
  EXPECT_TRUE(writer.Ended());
  writer.Write("later\r\n");  // dropped quietly
  writer.Close(std::chrono::seconds(1));
  EXPECT_EQ(test::ReadWholeStream(errors),
            "varnel: standard output was closed by its reader; the traffic trace stops here\n");
  std::fclose(errors);
}

TEST(TrafficWriterTest, ClosingDoesNotWaitForAReaderThatTakesNothing) {
  Pipe out;
  ASSERT_GE(out.fds[0], 0);
  auto closed = std::async(std::launch::async, [&] {
    TrafficWriter writer(out.fds[1], stderr, 4096);
    const std::string block(3000, 'x');
    for (int i = 0; i < 10; ++i) writer.Write(block);  // the writing thread blocks in write(2)
    writer.Close(std::chrono::milliseconds(200));
  });
  EXPECT_EQ(closed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  out.CloseReadEnd();  // lets the left-behind write return (EPIPE), so the thread ends
  closed.wait();
}
#endif

}  // namespace
}  // namespace varnel
