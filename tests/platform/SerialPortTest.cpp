// The termios port over a pseudo-terminal: a real tty with exclusive open,
// raw mode, short writes and hang-up.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/SerialPort.h"
#include "tests/platform/PtyPair.h"

namespace varnel {
namespace {

using test::PtyPair;
using namespace std::chrono_literals;

std::vector<std::uint8_t> Pattern(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// Reads from the port until count bytes are held or a status other than Data/Timeout comes.
std::vector<std::uint8_t> ReadFromPort(SerialPort& port, std::size_t count) {
  std::vector<std::uint8_t> out;
  std::uint8_t buffer[1024];
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    const ReadResult r = port.Read(buffer, sizeof buffer, 100);
    if (r.status == ReadStatus::Data) out.insert(out.end(), buffer, buffer + r.count);
    else if (r.status != ReadStatus::Timeout) break;
  }
  return out;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PtyPair::kAvailable) GTEST_SKIP() << test::kNoPtyReason;
    ASSERT_TRUE(pty.ok());
  }
  PtyPair pty;
};

TEST_F(SerialPortTest, OpensConfiguresAndCarriesBytesBothWaysUnaltered) {
  SerialPort port;
  std::string reason;
  ASSERT_TRUE(port.Open(pty.path(), &reason)) << reason;
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Name(), pty.path());
  EXPECT_TRUE(port.Configure(115200));

  // Raw mode: CR, LF, XON/XOFF, ^C and 0xFF pass untouched and nothing is echoed.
  const std::vector<std::uint8_t> tricky = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F, 0xFF, 0x00, 0xBB, 0xAA};
  EXPECT_EQ(port.Write(tricky.data(), tricky.size(), 1000), tricky.size());
  EXPECT_EQ(pty.ReadExactly(tricky.size()), tricky);

  ASSERT_TRUE(pty.WriteAll(tricky));
  EXPECT_EQ(ReadFromPort(port, tricky.size()), tricky);
  // No echo came back to the device side.
  EXPECT_TRUE(pty.ReadExactly(1, 50ms).empty());
}

TEST_F(SerialPortTest, SecondOpenOfAHeldDeviceFailsUntilTheFirstCloses) {
  SerialPort first;
  SerialPort second;
  std::string reason;
  ASSERT_TRUE(first.Open(pty.path(), &reason)) << reason;
  EXPECT_FALSE(second.Open(pty.path(), &reason));
  EXPECT_NE(reason.find("busy: another program holds the port"), std::string::npos) << reason;
  EXPECT_FALSE(second.IsOpen());

  // Closing gives the device back, exclusive flag included.
  first.Close();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(second.Open(pty.path(), &reason)) << reason;
}

TEST_F(SerialPortTest, OpenFailuresCarryTheSystemsReasonAndAHint) {
  SerialPort port;
  std::string reason;
  EXPECT_FALSE(port.Open("/dev/varnel-no-such-port", &reason));
  EXPECT_NE(reason.find("No such file or directory"), std::string::npos) << reason;
  EXPECT_NE(reason.find("absent"), std::string::npos) << reason;
  EXPECT_FALSE(port.IsOpen());

  EXPECT_FALSE(port.Open("/dev/null", &reason));
  EXPECT_EQ(reason, "not a serial device");
  EXPECT_FALSE(port.IsOpen());

  // The object stays usable after failures.
  EXPECT_TRUE(port.Open(pty.path(), &reason)) << reason;
  EXPECT_FALSE(port.Open(pty.path(), &reason));
}

TEST_F(SerialPortTest, ClosedPortReadsAsHungUpAndWritesNothing) {
  SerialPort port;
  std::uint8_t buffer[4];
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 0).status, ReadStatus::HungUp);
  EXPECT_EQ(port.Write(buffer, sizeof buffer, 0), 0u);
  EXPECT_FALSE(port.Configure(115200));
}

TEST_F(SerialPortTest, ReadTimesOutAndCancelWakesAWaitingRead) {
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), nullptr));
  ASSERT_TRUE(port.Configure(115200));
  std::uint8_t buffer[16];
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 0).status, ReadStatus::Timeout);

  auto waiting = std::async(std::launch::async, [&] { return port.Read(buffer, sizeof buffer, -1); });
  port.CancelRead();
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waiting.get().status, ReadStatus::Cancelled);

  // The wake-up is used up: the next read waits for data again.
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 0).status, ReadStatus::Timeout);
}

TEST_F(SerialPortTest, ClosingTheDeviceSideReportsHungUpInsteadOfWaitingOrSpinning) {
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), nullptr));
  ASSERT_TRUE(port.Configure(115200));
  ASSERT_TRUE(pty.WriteAll({0x41, 0x42}));
  pty.CloseMaster();

  std::uint8_t buffer[16];
  // Bytes that came before the hang-up are still delivered...
  ReadResult r = port.Read(buffer, sizeof buffer, 10000);
  if (r.status == ReadStatus::Data) {
    EXPECT_EQ(r.count, 2u);
    r = port.Read(buffer, sizeof buffer, 10000);
  }
  // ...then the hang-up is reported at once, well before the long time-out, every time asked.
  EXPECT_EQ(r.status, ReadStatus::HungUp);
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 10000).status, ReadStatus::HungUp);
}

TEST_F(SerialPortTest, LongWriteIsContinuedPastAFullQueue) {
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), nullptr));
  ASSERT_TRUE(port.Configure(115200));
  // Far more than a pty holds, so the write meets a full queue many times.
  const std::vector<std::uint8_t> bytes = Pattern(256 * 1024);
  auto drained = std::async(std::launch::async, [&] { return pty.ReadExactly(bytes.size(), 20s); });
  EXPECT_EQ(port.Write(bytes.data(), bytes.size(), 20000), bytes.size());
  EXPECT_EQ(drained.get(), bytes);
}

TEST_F(SerialPortTest, WriteToAStalledDeviceGivesUpAtItsBound) {
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), nullptr));
  ASSERT_TRUE(port.Configure(115200));
  const std::vector<std::uint8_t> bytes = Pattern(4 * 1024 * 1024);
  // Nobody reads the master: the queue fills and the write returns with what went out.
  const std::size_t written = port.Write(bytes.data(), bytes.size(), 100);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, bytes.size());
}

}  // namespace
}  // namespace varnel
