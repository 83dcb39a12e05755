// The trace printed for every frame: exact text, CR LF line ends.
#include "link/TrafficDump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

TEST(TrafficDumpTest, DumpWritesTheFormattedTextToTheSink) {
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  SetTrafficSink(sink);
  const std::vector<std::uint8_t> bytes = {0xAA, 0x41};
  DumpTraffic(bytes.data(), 2, "RecvData");
  SetTrafficSink(nullptr);
  std::fflush(sink);
  std::rewind(sink);
  std::string written(256, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), sink));
  std::fclose(sink);
  EXPECT_EQ(written, kRule + "[Desc ] RecvData\r\n[HEX-8] (len: 2)\r\nAA 41                      .A\r\n");
}

}  // namespace
}  // namespace varnel
