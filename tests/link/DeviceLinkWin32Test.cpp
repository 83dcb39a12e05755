// The link over the Win32 port where no device is needed: the open failure the
// connect dialog relies on, and the send path with no port.
#include "link/DeviceLink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>

#include "link/TrafficDump.h"
#include "platform/Operator.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TrafficCapture.h"

namespace varnel {
namespace {


const BoxSeen kOpenFailed{"打开串口失败！", "错误", MessageButtons::Ok, MessageOwner::None};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class DeviceLinkWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetTrafficLog(&dump_);
  }
  void TearDown() override {
    link.Stop();
  }

  std::string Dumped() { return dump_.Text(); }

  test::MessageRecorder presenter;
  FrameReceiver receiver;
  DeviceLink link{receiver, presenter.AsOperator()};

 private:
  test::TrafficCapture dump_;
};

TEST_F(DeviceLinkWin32, MissingPortShowsTheMessageAndALaterAttemptIsTriedAgain) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort("COM250", 115200));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(StartsWith(err, "varnel: cannot open COM250: ")) << err;
  EXPECT_TRUE(EndsWith(err, " (absent)\n")) << err;
  EXPECT_EQ(Seen(presenter.Boxes()), std::vector<BoxSeen>{kOpenFailed});
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(link.ConfigurePort(115200));

  // The operator picks another port: it is opened for real, not refused as "in use".
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort("COM251", 115200));
  err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(StartsWith(err, "varnel: cannot open COM251: ")) << err;
  EXPECT_TRUE(EndsWith(err, " (absent)\n")) << err;
  EXPECT_EQ(Seen(presenter.Boxes()), (std::vector<BoxSeen>{kOpenFailed, kOpenFailed}));
}

TEST_F(DeviceLinkWin32, SendDataWithoutAPortStillDumpsAndWritesNothing) {
  LinkFrame keepAlive = MakeRequest(0x7F, {0x01});
  link.SendData(keepAlive);
  EXPECT_EQ(Dumped(),
            "------------------------------------\r\n"
            "[Desc ] SendData\r\n"
            "[HEX-8] (len: 11)\r\n"
            "BB BB BB BB 01 7F 01 00    ........\r\n"
            "01 A2 94                   ...\r\n");
  EXPECT_EQ(keepAlive.crc, 0x94A2);
  EXPECT_EQ(link.FramesSent(), 0u);
}

}  // namespace
}  // namespace varnel
