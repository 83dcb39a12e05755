// The Linux port scan over a made-up sysfs tree and a folder of published links,
// then the connect dialog's listing rule on what it found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/PortEnumeration.h"
#include "ui/rules/PortListing.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class PortEnumerationLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("varnel-ports-" + std::to_string(random()) + "-" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directories(root_ / "sys"));
    ASSERT_TRUE(fs::create_directories(root_ / "devices"));
    ASSERT_TRUE(fs::create_directories(root_ / "published"));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A /sys/class/tty entry; with a device link when hardware stands behind it, and
  // a type file as the serial core writes one for on-board UARTs.
  void AddTty(const std::string& name, bool withDevice, const char* type = nullptr) {
    const fs::path entry = root_ / "sys" / name;
    fs::create_directories(entry);
    if (withDevice) {
      const fs::path device = root_ / "devices" / name;
      fs::create_directories(device);
      fs::create_directory_symlink(device, entry / "device");
    }
    if (type) std::ofstream(entry / "type") << type << "\n";
  }

  // A link a simulated sensor leaves in the published folder, to a target that may be gone.
  void Publish(const std::string& name, bool targetExists) {
    const fs::path target = root_ / "devices" / ("pts-" + name);
    if (targetExists) std::ofstream(target) << "";
    fs::create_symlink(target, root_ / "published" / name);
  }

  Names Scan(const std::string& published) {
    return EnumerateSerialPortsIn((root_ / "sys").string(), "/dev", published);
  }
  std::string Published() const { return (root_ / "published").string(); }

  fs::path root_;
};

TEST_F(PortEnumerationLinuxTest, RealDevicesInNaturalOrderThenLivePublishedLinks) {
  AddTty("ttyUSB10", true);
  AddTty("ttyUSB0", true);
  AddTty("ttyUSB2", true);
  AddTty("ttyS0", true, "0");  // reserved by the kernel, no UART behind it
  AddTty("ttyS1", true, "4");  // a 16550A that exists
  AddTty("tty0", false);       // virtual console
  AddTty("ptmx", false);
  Publish("varnel-sim10", true);
  Publish("varnel-sim2", true);
  Publish("varnel-dead", false);  // left by a simulator that died
  std::ofstream(root_ / "published" / "notes.txt") << "not a link";

  const std::string pub = Published();
  const Names expected{"/dev/ttyS1",          "/dev/ttyUSB0",        "/dev/ttyUSB2", "/dev/ttyUSB10",
                       pub + "/varnel-sim2", pub + "/varnel-sim10"};
  EXPECT_EQ(Scan(pub), expected);

  // Linux names are paths: all are listed, the first one is picked.
  const PortListing listing = ApplyPortListingRule(Scan(pub), kPortNamesUseComRule);
  EXPECT_EQ(listing.listed, expected);
  EXPECT_EQ(listing.portName, "/dev/ttyS1");
}

TEST_F(PortEnumerationLinuxTest, MissingFoldersGiveNoPortsAndNoFailure) {
  AddTty("ttyACM0", true);
  EXPECT_EQ(Scan(""), Names{"/dev/ttyACM0"});
  EXPECT_EQ(Scan((root_ / "no-such-folder").string()), Names{"/dev/ttyACM0"});
  EXPECT_TRUE(EnumerateSerialPortsIn((root_ / "no-sysfs").string(), "/dev", "").empty());

  const PortListing none = ApplyPortListingRule(EnumerateSerialPortsIn((root_ / "no-sysfs").string(), "/dev", ""),
                                                kPortNamesUseComRule);
  EXPECT_TRUE(none.listed.empty());
  EXPECT_TRUE(none.portName.empty());
}

TEST_F(PortEnumerationLinuxTest, AtMost128NamesWithTheSystemsFirst) {
  for (int i = 0; i < 130; ++i) AddTty("ttyUSB" + std::to_string(i), true);
  Publish("varnel-demo", true);
  const Names ports = Scan(Published());
  ASSERT_EQ(ports.size(), 128u);
  EXPECT_EQ(ports.front(), "/dev/ttyUSB0");
  EXPECT_EQ(ports[9], "/dev/ttyUSB9");
  EXPECT_EQ(ports[10], "/dev/ttyUSB10");
  EXPECT_EQ(ports.back(), "/dev/ttyUSB127");
}

}  // namespace
}  // namespace varnel
