// The program stopped from outside. SIGTERM while it holds the simulated sensor's port
// must end it the way a quit does: the port closed with its exclusive flag cleared (or
// the next opener is told "busy" though nothing holds it) and the traffic dump written out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <sys/uio.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

// The conditions here ask the X server, a terminal or the simulator: looked at every 20 ms.
constexpr std::chrono::milliseconds kLook{20};

// An X server of the test's own, and the test's connection to it.
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const fs::path& folder) {
    if (std::string(VARNEL_XVFB).empty()) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    ChildOptions options;
    options.args = {VARNEL_XVFB, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24"};
    options.files = {{1, (folder / "xvfb.out").string()}, {2, (folder / "xvfb.out.err").string()}};
    options.descriptors = {{fds[1], 3}};
    server_.emplace(std::move(options));
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, 15000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
    connection_ = xcb_connect(name_.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) name_.clear();
  }
  ~VirtualDisplay() {
    if (connection_) xcb_disconnect(connection_);
    if (server_) server_->Terminate(seconds(10));
  }
  const std::string& Name() const { return name_; }

  // The mapped top-level window with this title (UTF-8), or 0.
  xcb_window_t FindWindow(const std::string& title) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr);
    if (!tree) return 0;
    xcb_window_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
      const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(attributes);
      if (viewable && Title(children[i]) == title) found = children[i];
    }
    std::free(tree);
    return found;
  }

  // Gives window the keyboard, as a window manager would, and types the keys (by keysym).
  // Presses and releases a mouse button (1 left, 5 wheel down) at a point of window given as
  // fractions of its width and height, through the server's XTEST extension, as a real mouse would.
  void Click(xcb_window_t window, double fx, double fy, std::uint8_t button = 1) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_get_geometry_reply_t* size = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, root, 0, 0), nullptr);
    if (size && origin) {
      const auto x = static_cast<std::int16_t>(origin->dst_x + fx * size->width);
      const auto y = static_cast<std::int16_t>(origin->dst_y + fy * size->height);
      FakeInput(XCB_MOTION_NOTIFY, 0, root, x, y);
      FakeInput(XCB_BUTTON_PRESS, button, root, x, y);
      FakeInput(XCB_BUTTON_RELEASE, button, root, x, y);
      xcb_flush(connection_);
    }
    std::free(size);
    std::free(origin);
  }

 private:
  std::string Title(xcb_window_t window) {
    const char kName[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, sizeof kName - 1, kName), nullptr);
    if (!atom) return {};
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::free(atom);
    std::string title;
    if (property) {
      title.assign(static_cast<const char*>(xcb_get_property_value(property)),
                   static_cast<std::size_t>(xcb_get_property_value_length(property)));
      std::free(property);
    }
    return title;
  }

  // XTEST's FakeInput request (the extension's request 2), which has no header here.
  void FakeInput(std::uint8_t type, std::uint8_t detail, xcb_window_t root, std::int16_t x, std::int16_t y) {
    struct Request {
      std::uint8_t major, minor;
      std::uint16_t length;
      std::uint8_t type, detail;
      std::uint16_t pad0;
      std::uint32_t time, root, pad1, pad2;
      std::int16_t x, y;
      std::uint32_t pad3;
      std::uint16_t pad4;
      std::uint8_t pad5, device;
    } request{};
    static_assert(sizeof(Request) == 36);
    request.type = type;
    request.detail = detail;
    request.root = root;
    request.x = x;
    request.y = y;
    static xcb_extension_t xtest = {"XTEST", 0};
    xcb_protocol_request_t protocol = {1, &xtest, 2, 1};
    iovec parts[3] = {};  // xcb uses the two before the request itself
    parts[2] = {&request, sizeof request};
    xcb_send_request(connection_, 0, parts + 2, &protocol);
  }

  std::optional<ChildProcess> server_;
  std::string name_;
  xcb_connection_t* connection_ = nullptr;
};

// The terminal's exclusive flag, as seen through a descriptor of our own (root may open an
// exclusive terminal, so opening it says nothing; the flag itself does).
std::optional<bool> ExclusiveFlag(const std::string& tty) {
#ifdef TIOCGEXCL
  const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  int exclusive = 0;
  const bool known = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
  ::close(fd);
  if (known) return exclusive != 0;
#else
  (void)tty;
#endif
  return std::nullopt;
}

// The signal numbers a mask line of /proc/<pid>/status ("SigIgn:", "SigCgt:") holds.
bool MaskHas(pid_t pid, const std::string& field, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return (std::stoull(line.substr(field.size()), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Where the port list and "连接" sit in the connect dialog (293 x 72 dialog units): the
// list at x 52..100, "连接" at x 215..265, both at y 25..39.
constexpr double kPortListX = 76.0 / 293.0;
constexpr double kConnectX = 240.0 / 293.0;
constexpr double kRowY = 32.0 / 72.0;
constexpr std::uint8_t kWheelDown = 5;

TEST(AppStopTest, TerminatedWhileConnectedLeavesThePortFreeAndTheDumpWritten) {
  char pattern[] = "/tmp/varnel-app-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> removeFolder(
      &folder, [](const fs::path* f) { std::error_code ignored; fs::remove_all(*f, ignored); });
  VirtualDisplay display(folder);
  if (display.Name().empty()) GTEST_SKIP() << "no virtual X display (Xvfb) could be started";

  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  if (!ExclusiveFlag(sim.PtyPath())) GTEST_SKIP() << "this system cannot report a terminal's exclusive flag";
  // The program lists only this sensor: a runtime folder of its own, with the port published in it.
  fs::create_directories(folder / "varnel" / "ports");
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  fs::create_symlink(sim.PtyPath(), folder / "varnel" / "ports" / sim.Name());

  ChildOptions options;
  options.args = {VARNEL_APP_EXECUTABLE};
  options.env = EnvironmentWith({{"DISPLAY", display.Name()}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", folder}});
  options.files = {{1, (folder / "varnel.out").string()}, {2, (folder / "varnel.out.err").string()}};
  ChildProcess app(std::move(options));
  ASSERT_GT(app.Pid(), 0);

  // The operator picks the sensor's port, listed after the machine's own serial ports,
  // turning the wheel over the list to its end, and clicks "连接".
  xcb_window_t connect = 0;
  ASSERT_TRUE(WaitUntil([&] { return (connect = display.FindWindow("串口选择")) != 0; }, seconds(30), kLook))
      << "the connect dialog did not come up";
  for (int turn = 0; turn < 16; ++turn) display.Click(connect, kPortListX, kRowY, kWheelDown);
  display.Click(connect, kConnectX, kRowY);
  ASSERT_TRUE(WaitUntil([&] { return ExclusiveFlag(sim.PtyPath()) == true; }, seconds(20), kLook))
      << "the program did not open the port";
  ASSERT_TRUE(WaitUntil([&] { return sim.FramesSeen() >= 2; }, seconds(20), kLook))
      << "the link did not start";

  // A full pipe or a file-size limit must not kill it; a stop request must reach it.
  EXPECT_TRUE(MaskHas(app.Pid(), "SigIgn:", SIGPIPE));
  EXPECT_TRUE(MaskHas(app.Pid(), "SigIgn:", SIGXFSZ));
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) EXPECT_TRUE(MaskHas(app.Pid(), "SigCgt:", signal)) << signal;

  ASSERT_EQ(::kill(app.Pid(), SIGTERM), 0);
  ASSERT_TRUE(app.WaitForExit(seconds(20))) << "the program did not end; it said: "
                                             << ReadAll(folder / "varnel.out.err");
  EXPECT_TRUE(!app.Signalled() && app.ExitCode() == 0)
      << "ended with " << (app.Signalled() ? "signal " : "status ") << app.ExitCode()
      << "; it said: " << ReadAll(folder / "varnel.out.err");
  EXPECT_EQ(ExclusiveFlag(sim.PtyPath()), false) << "the port is still marked exclusive";

  const std::string dump = ReadAll(folder / "varnel.out");
  EXPECT_NE(dump.find("SendData"), std::string::npos) << "the traffic dump was not written out";
  EXPECT_TRUE(!dump.empty() && dump.back() == '\n') << "the traffic dump ends in the middle of a line";
}

}  // namespace
}  // namespace varnel::test
