// The link over the Win32 port where no device is needed: the open failure the
// connect dialog relies on, and the send path with no port.
#include "link/DeviceLink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <random>

#include "link/TrafficDump.h"
#include "platform/MessageBox.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageButtons buttons;
  MessageOwner owner;
  bool operator==(const ShownMessage&) const = default;
};

class RecordingPresenter final : public MessagePresenter {
 public:
  MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons,
                     MessageOwner owner) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({text, caption, buttons, owner});
    return MessageAnswer::Ok;
  }
  std::vector<ShownMessage> Shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  std::mutex mutex_;
  std::vector<ShownMessage> shown_;  // guarded by mutex_
};

const ShownMessage kOpenFailed{"打开串口失败！", "错误", MessageButtons::Ok, MessageOwner::None};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class DeviceLinkWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    sinkPath_ = fs::temp_directory_path() / ("varnel-dump-" + std::to_string(random()) + ".txt");
    sink_ = std::fopen(sinkPath_.string().c_str(), "w+b");
    ASSERT_NE(sink_, nullptr);
    SetTrafficSink(sink_);
    SetMessagePresenter(&presenter);
  }
  void TearDown() override {
    link.Stop();
    SetMessagePresenter(nullptr);
    SetTrafficSink(nullptr);
    if (sink_) std::fclose(sink_);
    std::error_code ignored;
    fs::remove(sinkPath_, ignored);
  }

  std::string Dumped() {
    std::fflush(sink_);
    std::rewind(sink_);
    std::string text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, sink_)) > 0) text.append(chunk, n);
    return text;
  }

  RecordingPresenter presenter;
  FrameReceiver receiver;
  DeviceLink link{receiver};

 private:
  fs::path sinkPath_;
  std::FILE* sink_ = nullptr;
};

TEST_F(DeviceLinkWin32, MissingPortShowsTheMessageAndALaterAttemptIsTriedAgain) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort("COM250", 115200));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(StartsWith(err, "varnel: cannot open COM250: ")) << err;
  EXPECT_TRUE(EndsWith(err, " (absent)\n")) << err;
  EXPECT_EQ(presenter.Shown(), std::vector<ShownMessage>{kOpenFailed});
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(link.ConfigurePort(115200));

  // The operator picks another port: it is opened for real, not refused as "in use".
  testing::internal::CaptureStderr();
  EXPECT_FALSE(link.OpenPort("COM251", 115200));
  err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(StartsWith(err, "varnel: cannot open COM251: ")) << err;
  EXPECT_TRUE(EndsWith(err, " (absent)\n")) << err;
  EXPECT_EQ(presenter.Shown(), (std::vector<ShownMessage>{kOpenFailed, kOpenFailed}));
}

TEST_F(DeviceLinkWin32, ProcessWideOpenPortFailsTheSameWay) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(OpenPort("COM250", 115200));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(presenter.Shown(), std::vector<ShownMessage>{kOpenFailed});
  EXPECT_FALSE(ProcessLink().IsOpen());
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
