// varnel-sensor-sim as a program: it publishes a real pseudo-terminal, a host
// written here talks to it through the link, and the control lines on its
// standard input steer it. Every wait has a deadline; nothing sleeps.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/FrameReceiver.h"
#include "tests/support/ChildProcess.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
// Variables to set, or (nullopt) to leave out, in the simulator's environment.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kDeadline{15000};  // generous: the simulator may start slowly on a loaded machine

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/varnel-sim-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    EXPECT_NE(made, nullptr) << std::strerror(errno);
    if (made) path_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The simulator started with exactly these options, pipes on its standard
// input and output; the kit's ChildProcess starts, reaps and hears it.
class SimProcess {
 public:
  SimProcess(const std::vector<std::string>& args, const Environment& env) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    varnel::test::ChildOptions options;
    options.args = {VARNEL_SIM_EXE};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.env = varnel::test::EnvironmentWith(env);
    options.descriptors = {{in[0], STDIN_FILENO}, {out[1], STDOUT_FILENO}};
    options.collectErrors = true;
    child_.emplace(std::move(options));
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    ::fcntl(stdout_, F_SETFL, O_NONBLOCK);
  }

  ~SimProcess() {
    CloseStdin();
    child_.reset();
    if (stdout_ >= 0) ::close(stdout_);
  }

  pid_t pid() const { return child_->Pid(); }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  // The next line on its standard output, or nullopt at the deadline or at its end.
  std::optional<std::string> ReadLine(milliseconds within = kDeadline) {
    const auto deadline = Clock::now() + within;
    for (;;) {
      const std::size_t nl = outBuffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = outBuffer_.substr(0, nl);
        outBuffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, MillisLeft(deadline)) <= 0) return std::nullopt;
      char buffer[1024];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n == 0) return std::nullopt;
      if (n > 0) outBuffer_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Reads lines until one starts with prefix; answers it.
  std::optional<std::string> WaitForLine(const std::string& prefix) {
    while (auto line = ReadLine()) {
      if (line->rfind(prefix, 0) == 0) return line;
    }
    return std::nullopt;
  }

  // What it wrote on standard error so far (for failure messages).
  std::string Errors() const { return child_->Errors(); }

  // Waits for it to end; then Signalled() and ExitCode() say how it ended.
  bool WaitExit(milliseconds within = kDeadline) { return child_->WaitForExit(within); }
  bool Signalled() const { return child_->Signalled(); }
  int ExitCode() const { return child_->ExitCode(); }

 private:
  std::optional<varnel::test::ChildProcess> child_;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string outBuffer_;
};

struct Published {
  std::string pty;
  std::string link;
};

std::optional<Published> ReadPublished(SimProcess& sim) {
  const auto pty = sim.ReadLine();
  const auto link = sim.ReadLine();
  if (!pty || !link || pty->rfind("pty ", 0) != 0 || link->rfind("link ", 0) != 0) return std::nullopt;
  return Published{pty->substr(4), link->substr(5)};
}

std::string ReadLink(const std::string& path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The tool's side of the line: the serial port opened through the link.
class Host {
 public:
  explicit Host(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
    if (fd_ < 0) return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(fd_, TCSANOW, &tio);
    receiver_.SetDumpEnabled(false);
    receiver_.SetFrameHandler([this](const varnel::LinkFrame& f) {
      frames_.push_back({f.code, Bytes(f.payload, f.payload + f.length)});
    });
  }
  ~Host() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The next frame from the sensor, or nullopt when none arrives in time.
  std::optional<std::pair<std::uint8_t, Bytes>> NextFrame(milliseconds within = kDeadline) {
    const auto deadline = Clock::now() + within;
    while (frames_.empty()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, MillisLeft(deadline)) <= 0) return std::nullopt;
      std::uint8_t buffer[512];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      bytesRead_ += static_cast<std::size_t>(n);
      receiver_.Feed(buffer, static_cast<std::size_t>(n));
    }
    auto frame = frames_.front();
    frames_.erase(frames_.begin());
    return frame;
  }
  std::size_t bytesRead() const { return bytesRead_; }

 private:
  int fd_ = -1;
  varnel::FrameReceiver receiver_;
  std::vector<std::pair<std::uint8_t, Bytes>> frames_;
  std::size_t bytesRead_ = 0;
};

// Requests as the tool puts them on the wire.
const std::map<std::uint8_t, Bytes> kQuery = {
    {0x01, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x01, 0x00, 0x00, 0xAE, 0xAB}},
    {0x02, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x02, 0x00, 0x00, 0x5E, 0xAB}},
    {0x03, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x03, 0x00, 0x00, 0x0F, 0x6B}},
    {0x10, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x10, 0x00, 0x00, 0xFE, 0xAE}},
    {0x11, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x11, 0x00, 0x00, 0xAF, 0x6E}},
    {0x12, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x12, 0x00, 0x00, 0x5F, 0x6E}},
    {0x13, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x13, 0x00, 0x00, 0x0E, 0xAE}},
    {0x30, {0xBB, 0xBB, 0xBB, 0xBB, 0x01, 0x30, 0x00, 0x00, 0xFF, 0x64}},
};

class SimToolTest : public ::testing::Test {
 protected:
  Environment Env() const {
    return {{"XDG_RUNTIME_DIR", runtime_.path()}};
  }
  std::string LinkPath(const std::string& name) const { return runtime_.path() + "/varnel/ports/" + name; }

  TempDir runtime_;
};

TEST_F(SimToolTest, TheIdentityChainIsAnsweredThroughTheLink) {
  SimProcess sim({"--name", "chain-sim", "--card", "1,305"}, Env());
  const auto published = ReadPublished(sim);
  ASSERT_TRUE(published) << sim.Errors();
  EXPECT_EQ(published->link, LinkPath("chain-sim"));
  EXPECT_EQ(ReadLink(published->link), published->pty);

  Host host(published->link);
  ASSERT_GE(host.fd(), 0);
  const std::vector<std::pair<std::uint8_t, Bytes>> chain = {
      {0x01, {0x00, 0x01, 0x00, 0x0C}},
      {0x02, {0x00, 0x02, 0x01, 0x00}},
      {0x03, {0x18, 0x03, 'S', 'I', 'M', '0', '0', '0', '1', 0x00}},
      {0x10, {0x01}},
      {0x11, {0x01}},
      {0x12, {0x00, 0x01, 0x00, 0x00, 0x00}},
      {0x13, {0x03}},
      {0x30, {0x01, 0x31, 0x01, 0x00, 0x00}},
  };
  for (const auto& [code, payload] : chain) {
    host.Write(kQuery.at(code));
    const auto reply = host.NextFrame();
    ASSERT_TRUE(reply) << "no reply to 0x" << std::hex << int(code) << "\n" << sim.Errors();
    EXPECT_EQ(reply->first, code);
    EXPECT_EQ(reply->second, payload) << "reply to 0x" << std::hex << int(code);
  }

  sim.Send("stats");
  const auto stats = sim.WaitForLine("stats ");
  ASSERT_TRUE(stats);
  EXPECT_NE(stats->find("frames=8 "), std::string::npos) << *stats;
  EXPECT_NE(stats->find("codes=01:1,02:1,03:1,10:1,11:1,12:1,13:1,30:1"), std::string::npos) << *stats;
}

TEST_F(SimToolTest, ASilentSensorAnswersNothingUntilItSpeaksAgain) {
  SimProcess sim({"--name", "quiet-sim"}, Env());
  const auto published = ReadPublished(sim);
  ASSERT_TRUE(published) << sim.Errors();
  Host host(published->link);
  ASSERT_GE(host.fd(), 0);

  sim.Send("silent on");
  ASSERT_EQ(sim.ReadLine(), std::optional<std::string>("ok silent on"));
  host.Write(kQuery.at(0x01));
  EXPECT_FALSE(host.NextFrame(milliseconds(300))) << "a reply came while silent";
  EXPECT_EQ(host.bytesRead(), 0u);

  sim.Send("silent off");
  ASSERT_EQ(sim.ReadLine(), std::optional<std::string>("ok silent off"));
  // Another request: a late reply to the one sent into the silence would come before its own.
  host.Write(kQuery.at(0x02));
  const auto reply = host.NextFrame();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->first, 0x02);
}

TEST_F(SimToolTest, TheLinkIsRemovedWhenTheSimulatorIsStopped) {
  for (int sig : {SIGTERM, SIGINT}) {
    SimProcess sim({"--name", "stop-sim"}, Env());
    const auto published = ReadPublished(sim);
    ASSERT_TRUE(published) << sim.Errors();
    ASSERT_TRUE(Exists(published->link));
    ASSERT_EQ(::kill(sim.pid(), sig), 0);
    ASSERT_TRUE(sim.WaitExit()) << "still running after signal " << sig;
    EXPECT_FALSE(sim.Signalled()) << "ended by the signal instead of cleaning up";
    EXPECT_FALSE(Exists(published->link)) << "signal " << sig;
  }
}

TEST_F(SimToolTest, EndOfInputKeepsServingUnlessAskedToQuit) {
  {
    SimProcess sim({"--name", "eof-sim"}, Env());
    const auto published = ReadPublished(sim);
    ASSERT_TRUE(published) << sim.Errors();
    sim.CloseStdin();
    Host host(published->link);
    host.Write(kQuery.at(0x11));
    const auto reply = host.NextFrame();
    ASSERT_TRUE(reply) << "stopped serving at the end of its input";
    EXPECT_EQ(reply->first, 0x11);
  }
  {
    SimProcess sim({"--name", "eof-sim", "--quit-on-eof"}, Env());
    const auto published = ReadPublished(sim);
    ASSERT_TRUE(published) << sim.Errors();
    sim.CloseStdin();
    ASSERT_TRUE(sim.WaitExit());
    EXPECT_TRUE(!sim.Signalled() && sim.ExitCode() == 0);
    EXPECT_FALSE(Exists(published->link));
  }
}

TEST_F(SimToolTest, UnplugHangsUpAndReplugPublishesANewPort) {
  SimProcess sim({"--name", "plug-sim"}, Env());
  const auto first = ReadPublished(sim);
  ASSERT_TRUE(first) << sim.Errors();
  Host oldHost(first->link);
  ASSERT_GE(oldHost.fd(), 0);

  sim.Send("unplug");
  ASSERT_EQ(sim.ReadLine(), std::optional<std::string>("ok unplug"));
  EXPECT_FALSE(Exists(first->link));
  // The open port hangs up: poll reports it and a read finds nothing more.
  pollfd p{oldHost.fd(), POLLIN, 0};
  ASSERT_GT(::poll(&p, 1, static_cast<int>(kDeadline.count())), 0);
  EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));

  sim.Send("replug");
  const auto second = ReadPublished(sim);
  ASSERT_TRUE(second) << sim.Errors();
  EXPECT_EQ(sim.ReadLine(), std::optional<std::string>("ok replug"));
  EXPECT_EQ(second->link, first->link);
  EXPECT_NE(second->pty, first->pty);
  EXPECT_EQ(ReadLink(second->link), second->pty);

  Host newHost(second->link);
  newHost.Write(kQuery.at(0x01));
  const auto reply = newHost.NextFrame();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->first, 0x01);
}

TEST_F(SimToolTest, PacedRepliesTakeAtLeastTheirWireTime) {
  // 1200 Bd: the 10-byte query and its 14-byte reply take 200 ms on the line.
  SimProcess sim({"--name", "slow-sim", "--pace", "1200"}, Env());
  const auto published = ReadPublished(sim);
  ASSERT_TRUE(published) << sim.Errors();
  Host host(published->link);
  const auto start = Clock::now();
  host.Write(kQuery.at(0x01));
  const auto reply = host.NextFrame();
  ASSERT_TRUE(reply);
  EXPECT_GE(Clock::now() - start, milliseconds(200));
}

TEST_F(SimToolTest, WithoutAUsableRuntimeVariableTheTempFallbackIsUsed) {
  TempDir tmp;
  const passwd* user = ::getpwuid(::geteuid());
  ASSERT_NE(user, nullptr);
  const std::string fallback = tmp.path() + "/runtime-" + user->pw_name;
  const std::string notADirectory = runtime_.path() + "/file";
  ASSERT_EQ(::close(::open(notADirectory.c_str(), O_CREAT | O_WRONLY, 0600)), 0);

  for (const std::optional<std::string>& xdg : {std::optional<std::string>(), std::optional(notADirectory)}) {
    // TMPDIR with a trailing separator and a doubled one is cleaned first.
    SimProcess sim({"--name", "fallback-sim"}, {{"XDG_RUNTIME_DIR", xdg}, {"TMPDIR", tmp.path() + "//"}});
    const auto published = ReadPublished(sim);
    ASSERT_TRUE(published) << sim.Errors();
    EXPECT_EQ(published->link, fallback + "/varnel/ports/fallback-sim");
    struct stat st {};
    ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::kill(sim.pid(), SIGTERM);
    ASSERT_TRUE(sim.WaitExit());
  }
}

TEST(SimToolOptions, HelpNamesEveryOptionAndCommand) {
  SimProcess sim({"--help"}, {});
  std::string text;
  while (auto line = sim.ReadLine()) text += *line + "\n";
  ASSERT_TRUE(sim.WaitExit());
  EXPECT_FALSE(sim.Signalled());
  EXPECT_EQ(sim.ExitCode(), 0);
  for (const char* word :
       {"card none", "card STATUS NUMBER", "card cycle", "silent on|off", "drop N", "corrupt N", "noise N",
        "split on|off", "preamble aa|bb", "delay MS", "pace BAUD", "status N|auto", "ota-status",
        "restart ", "restart-silence MS", "image-out PATH", "firmware A.B.C", "hardware A.B.C", "sn YEAR",
        "set KEY VALUE", "stats", "state", "unplug", "replug", "quit", "help", "--name", "--verbose",
        "--stdin-commands", "--no-stdin-commands", "--quit-on-eof", "--exit-with-parent", "--command",
        "--silent", "--split", "--drop", "--corrupt", "--noise", "--preamble", "--delay", "--pace",
        "--status", "--ota-status", "--card", "--restart-silence", "--image-out", "--firmware",
        "--hardware", "--sn", "XDG_RUNTIME_DIR", "varnel/ports"}) {
    EXPECT_NE(text.find(word), std::string::npos) << "--help does not mention " << word;
  }
}

TEST(SimToolOptions, ABadOptionIsRefusedWithAReason) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--frobnicate"}, {"--drop", "many"}, {"--name", "a/b"}, {"--pace"}}) {
    SimProcess sim(args, {});
    ASSERT_TRUE(sim.WaitExit()) << args[0];
    EXPECT_FALSE(sim.Signalled()) << args[0];
    EXPECT_EQ(sim.ExitCode(), 2) << args[0];
    EXPECT_NE(sim.Errors().find("varnel-sensor-sim: "), std::string::npos) << args[0];
    EXPECT_FALSE(sim.ReadLine(milliseconds(0))) << "nothing on standard output for " << args[0];
  }
}

}  // namespace
