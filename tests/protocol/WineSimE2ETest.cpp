// The Windows link and session, no dialogs, against the simulated sensor on a COM
// port wine maps to its pseudo-terminal (run by tests/support/wine_sim_run.py,
// which also relays the simulator's control commands): the identity chain, a
// setting written, a paced 64 KiB firmware image, and the sensor unplugged and back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "link/LinkFrame.h"
#include "platform/SerialPort.h"
#include "platform/PortEnumeration.h"
#include "tests/protocol/RecordedSession.h"
#include "tests/support/SimRelay.h"
#include "tests/support/Wait.h"

namespace varnel::test {
namespace {

class WineSim : public ::testing::Test, protected RecordedSession {
 protected:
  void SetUp() override {
    port = SimRelay::Port();
    if (port.empty()) GTEST_SKIP() << "needs the simulator on a mapped COM port (tests/support/wine_sim_run.py)";
    ASSERT_EQ(sim.Ask("pace off"), "ok pace off");
    ASSERT_TRUE(link.OpenPort(port, 115200));
  }
  void TearDown() override {
    Stop();
  }

  // Waits until the sensor reports key=value.
  bool SensorHas(const std::string& key, const std::string& value, std::chrono::milliseconds within = 5s) {
    return WaitUntil([&] { return sim.State()[key] == value; }, within, 50ms);
  }

  SimRelay sim;
  std::string port;
};

TEST_F(WineSim, MappedPortIsListedAndCarriesTheIdentityChainAndASetting) {
  const std::vector<std::string> listed = EnumerateSerialPorts("");
  EXPECT_NE(std::find(listed.begin(), listed.end(), port), listed.end()) << "the port list misses " << port;

  ASSERT_EQ(sim.Ask("sn 21 9 WINE42"), "ok sn 21 9 WINE42");
  ASSERT_EQ(sim.Ask("set addr 42"), "ok set addr 42");
  RunIdentityChain();
  std::vector<std::string> lines;
  for (const Posted& p : poster.All())
    if (p.notification.message == WM_DEVICE_INFO && p.notification.text) lines.push_back(*p.notification.text);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], ::testing::EndsWith(" : V1.0.12\r\n"));
  EXPECT_THAT(lines[2], ::testing::EndsWith(" S/N : 21-09-WINE42\r\n"));
  EXPECT_EQ(session.Settings().serialNodeAddress.load(), 42);

  session.SendNodeAddressRequest(0x33);
  EXPECT_TRUE(SensorHas("addr", "51")) << "the written address did not reach the sensor";
  EXPECT_TRUE(WaitUntil([&] { return !boxes.Boxes().empty(); }, 5s));
  EXPECT_EQ(boxes.Boxes().at(0).text, "设置成功");
}

TEST_F(WineSim, PacedFirmwareImageArrivesIntact) {
  ASSERT_EQ(sim.Ask("pace 115200"), "ok pace 115200");
  // Written by the simulator (a Linux path), read here through wine's Z: drive.
  const std::string unixOut = "/tmp/varnel-wine-image-" + std::to_string(std::random_device{}()) + ".bin";
  ASSERT_EQ(sim.Ask("image-out " + unixOut), "ok image-out " + unixOut);
  RunIdentityChain();

  Bytes image(64 * 1024);
  std::mt19937 random(20261207);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const auto path = std::filesystem::temp_directory_path() / "varnel_wine_e2e_64k.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  ASSERT_EQ(session.Firmware().StartFirmwareDownload(path), FirmwareLoadResult::Ok);
  std::filesystem::remove(path);
  ASSERT_TRUE(poster.WaitFor(WM_FW_PROGRESS, PROGRESS_DONE, 90s)) << "the transfer did not finish";
  ASSERT_TRUE(WaitUntil([&] { return !session.Firmware().State().Active(); }, 5s));
  EXPECT_TRUE(SensorHas("image", std::to_string(image.size()))) << "the sensor's check refused the image";

  std::string winOut = "Z:" + unixOut;
  std::replace(winOut.begin(), winOut.end(), '/', '\\');
  std::ifstream in(winOut, std::ios::binary);
  const Bytes received{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  std::filesystem::remove(winOut);
  EXPECT_TRUE(received == image) << "received " << received.size() << " bytes, not the image sent";
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(sim.Ask("image-out off"), "ok image-out off");
}

TEST_F(WineSim, SensorUnpluggedAndBackIsReopenedAndAnswers) {
  RunIdentityChain();
  ASSERT_EQ(sim.Ask("unplug"), "ok unplug");
  ASSERT_TRUE(WaitUntil([&] { return !link.IsOpen(); }, 5s)) << "the hang-up was not noticed";

  ASSERT_EQ(sim.Ask("replug"), "ok replug");
  ASSERT_TRUE(WaitUntil([&] { return link.IsOpen(); }, 10s)) << "the port was not opened again";
  // Ask until a keep-alive sent over the reopened port is answered.
  session.TakeKeepAliveAnswered();
  EXPECT_TRUE(WaitUntil(
      [&] {
        session.SendKeepAlive();
        return WaitUntil([&] { return session.KeepAliveAnswered(); }, 200ms);
      },
      10s))
      << "no answer over the reopened port";
  EXPECT_TRUE(boxes.Boxes().empty());
}

// The port under the link: a read waits for input without spinning through it,
// a stop wakes a read that waits without limit, and a reply comes in whole.
TEST(WineSimPort, ReadWaitsIsWokenByCancelReadAndTakesAReplyWhole) {
  const std::string name = SimRelay::Port();
  if (name.empty()) GTEST_SKIP() << "needs the simulator on a mapped COM port (tests/support/wine_sim_run.py)";
  SerialPort port;
  std::string reason;
  ASSERT_TRUE(port.Open(name, &reason)) << reason;
  ASSERT_TRUE(port.Configure(115200));
  std::uint8_t buffer[64];
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 100).status, ReadStatus::Timeout);

  std::atomic<int> status{-1};
  std::thread reader([&] { status.store(static_cast<int>(port.Read(buffer, sizeof buffer, -1).status)); });
  port.CancelRead();
  const bool woken = WaitUntil([&] { return status.load() != -1; }, 5s);
  if (!woken) port.CancelRead();  // keeps a broken wake-up from hanging the test
  reader.join();
  EXPECT_TRUE(woken) << "CancelRead did not wake the waiting read";
  EXPECT_EQ(status.load(), static_cast<int>(ReadStatus::Cancelled));

  const std::uint8_t keepAlive[] = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94};
  ASSERT_EQ(port.Write(keepAlive, sizeof keepAlive, 1000), sizeof keepAlive);
  Bytes reply;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const ReadResult r = port.Read(buffer, sizeof buffer, 100);
        if (r.status == ReadStatus::Data) reply.insert(reply.end(), buffer, buffer + r.count);
        return reply.size() >= 11;
      },
      5s));
  ASSERT_EQ(reply.size(), 11u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F}));
}

// A read takes everything the driver holds into the port's own buffer, also
// while the caller is away after a timed-out wait: a caller with room for three
// bytes at a time still gets the reply whole and in order, and closing with a
// read pending leaves nothing behind for the port opened next.
TEST(WineSimPort, ReplyTakenThreeBytesAtATimeAfterATimedOutWaitComesWholeAndInOrder) {
  const std::string name = SimRelay::Port();
  if (name.empty()) GTEST_SKIP() << "needs the simulator on a mapped COM port (tests/support/wine_sim_run.py)";
  SimRelay sim;
  ASSERT_EQ(sim.Ask("pace off"), "ok pace off");  // the reply lands in one piece
  SerialPort port;
  std::string reason;
  const std::uint8_t keepAlive[] = {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F, 0x01, 0x00, 0x01, 0xA2, 0x94};
  std::uint8_t piece[3];
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE("pass " + std::to_string(pass));
    ASSERT_TRUE(port.Open(name, &reason)) << reason;
    ASSERT_TRUE(port.Configure(115200));
    ASSERT_EQ(port.Read(piece, sizeof piece, 0).status, ReadStatus::Timeout);  // the wait stays behind
    ASSERT_EQ(port.Write(keepAlive, sizeof keepAlive, 1000), sizeof keepAlive);
    Bytes reply;
    ASSERT_TRUE(WaitUntil(
        [&] {
          const ReadResult r = port.Read(piece, sizeof piece, 100);
          EXPECT_NE(r.status, ReadStatus::HungUp);
          if (r.status == ReadStatus::Data) reply.insert(reply.end(), piece, piece + r.count);
          return reply.size() >= 11 || r.status == ReadStatus::HungUp;
        },
        5s));
    ASSERT_EQ(reply.size(), 11u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), (Bytes{0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x7F}));
    const std::uint16_t crc = Crc16(reply.data(), 9);
    EXPECT_EQ(reply[9] | reply[10] << 8, crc) << "the reply's bytes came reordered or mixed";
    EXPECT_EQ(port.Read(piece, sizeof piece, 0).status, ReadStatus::Timeout) << "bytes beyond the reply";
    port.Close();
  }
}

}  // namespace
}  // namespace varnel::test
