// The traffic trace of the real program on its standard output: a pipe that
// nobody reads, a pipe whose reader goes away, and a file. Neither may stop
// the tool from talking to the sensor or from quitting, and a file holds
// every frame the sensor has seen.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <csignal>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "tests/support/AppProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

namespace varnel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::AppProcess;
using test::SimProcess;
using test::WaitUntil;

constexpr char kSendDump[] = "[Desc ] SendData\r\n";

constexpr std::uint8_t kKeepAlive = 0x7F;

// The conditions here ask the simulator or read a file: looked at every 50 ms.
constexpr auto kLook = 50ms;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class TrafficTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    // The simulator publishes its port here, and the program lists only it after the system's.
    char dir[] = "/tmp/varnel-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    runtimeDir_ = dir;
    ::setenv("XDG_RUNTIME_DIR", dir, 1);
    sim_ = std::make_unique<SimProcess>();
    ASSERT_TRUE(sim_->Started());
  }
  void TearDown() override {
    app_.reset();
    sim_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(runtimeDir_, ignored);
  }

  // Starts the program with standard output on fd and connects it to the simulator.
  void StartConnected(int fd) {
    app_ = std::make_unique<AppProcess>(fd, std::filesystem::path(sim_->LinkPath()).parent_path().string());
    ASSERT_TRUE(app_->Started());
    ASSERT_TRUE(app_->ConnectToLastPort());
    ASSERT_TRUE(WaitUntil([&] { return sim_->RequestsOf(kKeepAlive) >= 1; }, 20s, kLook)) << app_->Errors();
  }

  // Escape on the main window ends the program, normally.
  void QuitWithEscape() {
    ASSERT_TRUE(app_->Press({AppProcess::kEscape}));
    ASSERT_TRUE(app_->WaitForExit(10s)) << "Escape did not end the program";
    EXPECT_FALSE(app_->Signalled()) << "ended by signal " << app_->ExitCode();
    EXPECT_EQ(app_->ExitCode(), 0) << app_->Errors();
  }

  SimProcess& sim() { return *sim_; }
  std::unique_ptr<AppProcess> app_;

 private:
  std::string runtimeDir_;
  std::unique_ptr<SimProcess> sim_;
};

TEST_F(TrafficTrace, APipeNobodyReadsHoldsUpNeitherTheLinkNorQuitting) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const int capacity = ::fcntl(out[0], F_SETPIPE_SZ, 4096);
  ASSERT_GT(capacity, 0);
  // Full before the program starts, and nobody will read it: the first dump
  // already finds no room, however the writer batches its lines.
  const std::string filler(static_cast<std::size_t>(capacity), '#');
  ASSERT_EQ(::write(out[1], filler.data(), filler.size()), capacity);
  int queued = 0;
  ASSERT_EQ(::ioctl(out[0], FIONREAD, &queued), 0);
  ASSERT_EQ(queued, capacity);
  StartConnected(out[1]);
  // The link watch runs on the window's thread: its keep-alives go on for
  // more than another page of trace (about 300 bytes each).
  const std::uint64_t before = sim().RequestsOf(kKeepAlive);
  EXPECT_TRUE(WaitUntil([&] { return sim().RequestsOf(kKeepAlive) >= before + 16; }, 40s, kLook))
      << "the keep-alives stopped after " << sim().RequestsOf(kKeepAlive) - before;
  QuitWithEscape();
  ::close(out[0]);
  ::close(out[1]);
}

TEST_F(TrafficTrace, AReaderThatGoesAwayEndsTheTraceWithOneLineAndTheToolGoesOn) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  StartConnected(out[1]);
  ::close(out[1]);
  // Like `varnel | head -c 4096`.
  std::string head;
  while (head.size() < 4096) {
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, 4096 - head.size());
    ASSERT_GT(n, 0);
    head.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  const std::string line = "varnel: standard output was closed by its reader; the traffic trace stops here\n";
  ASSERT_TRUE(WaitUntil([&] { return app_->Errors().find(line) != std::string::npos; }, 20s, kLook))
      << "running: " << app_->Running() << ", standard error: " << app_->Errors();
  const std::uint64_t after = sim().RequestsOf(kKeepAlive);
  EXPECT_TRUE(WaitUntil([&] { return sim().RequestsOf(kKeepAlive) >= after + 2; }, 20s, kLook));
  EXPECT_TRUE(app_->Running());
  QuitWithEscape();
  EXPECT_EQ(Count(app_->Errors(), line), 1u) << app_->Errors();
}

TEST_F(TrafficTrace, AFileHoldsEveryFrameTheSensorHasSeen) {
  char path[] = "/tmp/varnel-trace-out-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  StartConnected(fd);
  auto dumped = [&] {
    std::string text(1 << 20, '\0');
    const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return Count(text, kSendDump);
  };
  // Several moments while keep-alives go out: every frame the sensor has
  // received was dumped before it was written, so the file must hold it,
  // without the program having to end first.
  for (int round = 0; round < 5; ++round) {
    const std::uint64_t seen = sim().FramesSeen();
    ASSERT_TRUE(WaitUntil([&] { return dumped() >= seen; }, 5s, kLook))
        << "round " << round << ": the sensor has seen " << seen << " frames, the file holds " << dumped();
    ASSERT_TRUE(WaitUntil([&] { return sim().FramesSeen() > seen; }, 10s, kLook));
  }
  // Killed without a chance to flush anything: the file already holds it all.
  const std::uint64_t seen = sim().FramesSeen();
  ASSERT_TRUE(WaitUntil([&] { return dumped() >= seen; }, 5s, kLook));
  ::kill(app_->Pid(), SIGKILL);
  EXPECT_GE(dumped(), seen);
  ::close(fd);
  ::unlink(path);
}

}  // namespace
}  // namespace varnel
