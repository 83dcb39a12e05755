// The Win32 port where no device is needed: a missing port, and a port object that holds none.
#include <gtest/gtest.h>

#include "platform/SerialPort.h"

namespace varnel {
namespace {

TEST(SerialPortWin32, MissingPortFailsWithTheSystemsReasonAndStaysClosed) {
  SerialPort port;
  std::string reason;
  // COM250 and a two-digit name both go through the \\.\ prefix; neither exists here.
  for (const char* name : {"COM250", "COM99"}) {
    EXPECT_FALSE(port.Open(name, &reason)) << name;
    EXPECT_NE(reason.find("(absent)"), std::string::npos) << reason;
    EXPECT_GT(reason.size(), std::string(" (absent)").size()) << "the system's own words are missing: " << reason;
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Name().empty());
  }
  // A failed open needs no reason holder.
  EXPECT_FALSE(port.Open("COM250", nullptr));
}

TEST(SerialPortWin32, PortThatHoldsNoDeviceReadsAsHungUpAndWritesNothing) {
  SerialPort port;
  std::uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(port.Read(buffer, sizeof buffer, 0).status, ReadStatus::HungUp);
  EXPECT_EQ(port.Write(buffer, sizeof buffer, 0), 0u);
  EXPECT_FALSE(port.Configure(115200));
  port.Close();  // closing nothing is harmless
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace varnel
