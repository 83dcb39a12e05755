// The protocol layer over a real pseudo-terminal against the simulated sensor,
// with no dialogs: the identity chain after StartLink, and a whole firmware transfer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "link/TrafficDump.h"
#include "tests/protocol/RecordedSession.h"
#include "tests/protocol/SimPtyHarness.h"
#include "tests/support/Wait.h"

namespace varnel::test {
namespace {

using ::testing::ElementsAreArray;

class ProtocolOverPty : public ::testing::Test, protected RecordedSession {
 protected:
  void SetUp() override {
    sensor.WithSensor([](sim::SimSensor& s) {
      sim::SensorConfig& c = s.model().running();
      c.nodeAddress = 0x2A;
      c.baudCode = 4;
      c.canId = 0x1ABCDEF0;
      c.frameType = 1;
      c.canRateCode = 5;
      s.model().identity().serial = sim::SerialNumber{19, 7, "E2E42"};
      return 0;
    });
    std::string problem;
    ASSERT_TRUE(sensor.Start(&problem)) << problem;
    ASSERT_TRUE(link.OpenPort(sensor.PortPath(), 115200));
  }
  void TearDown() override {
    Stop();
    sensor.Stop();
  }

  SimPtyHarness sensor;
};

TEST_F(ProtocolOverPty, IdentityChainAfterStartLink) {
  const auto started = std::chrono::steady_clock::now();
  RunIdentityChain();

  const std::uint8_t chain[] = {0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x30};
  // The harness logs a reply after writing it, so the tool may have handled the last one first.
  ASSERT_TRUE(sensor.WaitForEvents(2 * std::size(chain), 5s));
  const auto events = sensor.Events();
  ASSERT_EQ(events.size(), 2 * std::size(chain));
  // One request outstanding: each request is answered before the next leaves.
  for (std::size_t i = 0; i < std::size(chain); ++i) {
    EXPECT_TRUE(events[2 * i].fromHost);
    EXPECT_EQ(events[2 * i].code, chain[i]);
    EXPECT_FALSE(events[2 * i + 1].fromHost);
    EXPECT_EQ(events[2 * i + 1].code, chain[i]);
  }
  const auto firstQuery = events[0].at - started;
  EXPECT_GE(firstQuery, 495ms);
  EXPECT_LT(firstQuery, 3000ms);  // generous for a loaded machine; it only tells the delay from a much later start
  // Nothing follows the card reading.
  EXPECT_FALSE(sensor.WaitForEvents(events.size() + 1, 300ms));

  const SensorSettings& s = session.Settings();
  EXPECT_EQ(s.serialNodeAddress.load(), 0x2A);
  EXPECT_EQ(s.serialBaudCode.load(), 4);
  EXPECT_EQ(s.canNodeId.load(), 0x1ABCDEF0u);
  EXPECT_EQ(s.canFrameType.load(), 1);
  EXPECT_EQ(s.canRateCode.load(), 5);

  std::vector<Bytes> lines;
  for (const Posted& p : poster.All())
    if (p.notification.message == WM_DEVICE_INFO && p.notification.text) lines.push_back(Str(*p.notification.text));
  const Bytes fw = {0xB9, 0xCC, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE};
  const Bytes hw = {0xD3, 0xB2, 0xBC, 0xFE, 0xB0, 0xE6, 0xB1, 0xBE};
  const Bytes sn = {0xC9, 0xE8, 0xB1, 0xB8};
  auto with = [](Bytes a, std::string_view b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  EXPECT_THAT(lines, ElementsAreArray({with(fw, " : V1.0.12\r\n"), with(hw, " : V2.1.0\r\n"),
                                       with(sn, " S/N : 19-07-E2E42\r\n")}));
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ProtocolOverPty, FirmwareImageArrivesIntact) {
  RunIdentityChain();
  Bytes image(64 * 1024);
  std::mt19937 random(20240611);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  const auto path = std::filesystem::temp_directory_path() / "varnel_e2e_Rfid_64k.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());

  ASSERT_EQ(session.Firmware().StartFirmwareDownload(path), FirmwareLoadResult::Ok);
  std::filesystem::remove(path);
  ASSERT_TRUE(poster.WaitFor(WM_FW_PROGRESS, PROGRESS_DONE, 90s));
  ASSERT_TRUE(WaitUntil([&] { return !session.Firmware().State().Active(); }, 5s));

  sensor.WithSensor([&](sim::SimSensor& s) {
    EXPECT_EQ(s.model().firmware().verifiedImage(), image);
    EXPECT_EQ(s.model().firmware().finishedCount(), 1u);
    return 0;
  });
  int total = -1, steps = 0;
  for (const Posted& p : poster.All()) {
    if (p.notification.message != WM_FW_PROGRESS) continue;
    if (p.notification.wParam == PROGRESS_TOTAL) total = static_cast<int>(p.notification.lParam);
    if (p.notification.wParam == PROGRESS_STEP) ++steps;
  }
  EXPECT_EQ(total, 265);  // 65536 bytes in 248-byte chunks
  EXPECT_EQ(steps, 265);
  EXPECT_TRUE(boxes.Boxes().empty());  // every status was 0 ("设置成功" boxes are not shown for firmware steps)
}

}  // namespace
}  // namespace varnel::test
