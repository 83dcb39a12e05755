#pragma once
// The serial ports the system reports, in the order it reports them.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace varnel {

constexpr std::size_t kMaxListedPorts = 128;

// Windows: the value data of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM in enumeration
// order (COM3, ...). Linux: the serial devices under /sys/class/tty that have a
// real device behind them (USB, ACM, on-board UARTs that exist), as /dev paths,
// then the symbolic links in publishedPortsDir (simulated sensors publish their
// pseudo-terminals there) whose targets exist. At most kMaxListedPorts names.
std::vector<std::string> EnumerateSerialPorts(const std::string& publishedPortsDir);

// Linux: the same scan over a given sysfs class folder and device folder, for tests.
std::vector<std::string> EnumerateSerialPortsIn(const std::string& sysClassTty, const std::string& devDir,
                                                const std::string& publishedPortsDir);

#ifdef _WIN32
// Windows: one read of the serial-port key's value at index, as RegEnumValueW does it:
// fills data (room for *dataBytes bytes), sets *dataBytes, answers the status.
// (long and unsigned long are the system's LONG and DWORD.)
using RegistryValueReader = std::function<long(unsigned long index, wchar_t* data, unsigned long* dataBytes)>;

// The names EnumerateSerialPorts makes of the values readValue reports, for tests.
std::vector<std::string> EnumerateRegistryValues(const RegistryValueReader& readValue);
#endif

}  // namespace varnel
